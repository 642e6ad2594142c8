// Yaz0: a 16-byte header ("Yaz0" or "Yaz1", the decompressed size, 8 bytes that
// are zero on the GameCube and Wii) and groups of a code byte and eight items,
// literal (bit 1) or a reference of 2 bytes (3 … 17 long) or 3 bytes (18 … 273).
// Reads both magics; writes "Yaz0" by the Nintendo rule or by optimal parse.
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/compression/lz_parse.h"
#include "tplforge/bytes.h"
#include "tplforge/compression.h"

namespace tplforge {

std::string describe(CompressionError error) {
    switch (error) {
        case CompressionError::TooShort: return "compressed stream is shorter than its header";
        case CompressionError::BadMagic: return "not a compressed stream of the expected kind";
        case CompressionError::TooLarge: return "compressed stream announces more bytes than it can hold or than is accepted";
        case CompressionError::EndsEarly: return "compressed stream ends before its announced size";
        case CompressionError::DistanceBeforeStart: return "compressed stream refers back before its first byte";
        case CompressionError::PastAnnouncedSize: return "compressed stream runs past its announced size";
    }
    return "unknown error";
}

namespace lz {

void copyBack(std::span<std::uint8_t> out, std::size_t at, std::size_t distance, std::size_t length) {
    std::uint8_t* to = out.subspan(at, length).data();
    const std::uint8_t* from = to - distance;
    if (distance >= length) {
        std::memcpy(to, from, length);
    } else if (distance == 1) {
        std::memset(to, *from, length);
    } else {
        std::size_t k = 0;
        // Whole words when each one lies behind what it is written to.
        if (distance >= 8)
            for (; k + 8 <= length; k += 8) std::memcpy(to + k, from + k, 8);
        for (; k < length; ++k) to[k] = from[k];
    }
}

// A copy with room behind it: whole words may run past `length` into bytes the
// stream writes next.
void copyWithRoom(std::span<std::uint8_t> out, std::size_t at, std::size_t distance, std::size_t length) {
    std::uint8_t* to = out.subspan(at, length + 8).data();
    const std::uint8_t* from = to - distance;
    if (distance == 1) {
        std::memset(to, *from, length);
        return;
    }
    std::size_t k = 0;
    if (distance < 8) {
        // The bytes repeat every `distance`, so every multiple of it is a distance
        // too: once a multiple of 8 or more is written, whole words follow.
        const std::size_t wide = (8 + distance - 1) / distance * distance;
        for (; k < wide && k < length; ++k) to[k] = from[k];
        from = to - wide;
    }
    for (; k < length; k += 8) std::memcpy(to + k, from + k, 8);
}

Expected<std::size_t, CompressionError> yaz0DecodeInto(std::span<const std::uint8_t> file, std::span<std::uint8_t> out) {
    const std::size_t size = file.size();
    const std::size_t n = out.size();
    std::size_t in = kYaz0HeaderSize;
    std::size_t o = 0;
    while (o < n) {
        if (in >= size) return fail(CompressionError::EndsEarly);
        unsigned code = file[in++];
        // A whole group of input at hand, and then some: no checks on the input
        // inside it. (Seven 3-byte references, then a word read for literals.)
        const bool wholeGroup = in + 7 * 3 + 8 <= size;
        if (code == 0xFF && wholeGroup && o + 8 <= n) {
            std::memcpy(out.subspan(o, 8).data(), file.subspan(in, 8).data(), 8);
            in += 8;
            o += 8;
            continue;
        }
        for (unsigned k = 0; k < 8 && o < n; ++k, code <<= 1) {
            if (code & 0x80) {
                // A run of literals in one move when there is room for a word.
                if (wholeGroup && o + 8 <= n) {
                    const auto run = std::min<unsigned>(static_cast<unsigned>(std::countl_one(static_cast<std::uint8_t>(code))), 8 - k);
                    std::memcpy(out.subspan(o, 8).data(), file.subspan(in, 8).data(), 8);
                    in += run;
                    o += run;
                    k += run - 1;
                    code <<= run - 1;
                    continue;
                }
                if (!wholeGroup && in >= size) return fail(CompressionError::EndsEarly);
                out[o++] = file[in++];
                continue;
            }
            if (!wholeGroup && in + 2 > size) return fail(CompressionError::EndsEarly);
            const unsigned b0 = file[in];
            const std::size_t distance = ((b0 & 0x0F) << 8 | file[in + 1]) + 1;
            in += 2;
            std::size_t length = b0 >> 4;
            if (length == 0) {
                if (!wholeGroup && in >= size) return fail(CompressionError::EndsEarly);
                length = std::size_t{file[in++]} + 0x12;
            } else {
                length += 2;
            }
            if (distance > o) return fail(CompressionError::DistanceBeforeStart);
            if (length > n - o) return fail(CompressionError::PastAnnouncedSize);
            if (length + 8 <= n - o)
                copyWithRoom(out, o, distance, length);
            else
                copyBack(out, o, distance, length);
            o += length;
        }
    }
    return in;
}

}  // namespace lz

namespace {

// Eight 273-byte references take 25 bytes: nothing expands more.
std::uint64_t mostFrom(std::uint64_t streamBytes) { return streamBytes * (8 * 273) / 25 + 273; }

class GroupWriter {
public:
    // Eager: a group's code byte goes out as soon as the one before is full, as
    // Nintendo's encoder does (a stream of 8k items then ends with a code byte 00).
    GroupWriter(std::vector<std::uint8_t>& out, bool eager) : out_(out), eager_(eager) {
        if (eager_) start();
    }
    void literal(std::uint8_t b) {
        before();
        out_[code_] = static_cast<std::uint8_t>(out_[code_] | 0x80u >> count_);
        out_.push_back(b);
        after();
    }
    void reference(std::uint32_t length, std::uint32_t distance) {
        before();
        const std::uint32_t d = distance - 1;
        if (length <= 17) {
            out_.push_back(static_cast<std::uint8_t>((length - 2) << 4 | d >> 8));
            out_.push_back(static_cast<std::uint8_t>(d));
        } else {
            out_.push_back(static_cast<std::uint8_t>(d >> 8));
            out_.push_back(static_cast<std::uint8_t>(d));
            out_.push_back(static_cast<std::uint8_t>(length - 0x12));
        }
        after();
    }

private:
    void start() {
        code_ = out_.size();
        out_.push_back(0);
        count_ = 0;
    }
    void before() {
        if (!eager_ && (count_ == 8 || code_ == kNone)) start();
    }
    void after() {
        ++count_;
        if (eager_ && count_ == 8) start();
    }

    static constexpr std::size_t kNone = ~std::size_t{0};
    std::vector<std::uint8_t>& out_;
    bool eager_;
    std::size_t code_ = kNone;
    unsigned count_ = 0;
};

void nintendoRule(std::span<const std::uint8_t> data, GroupWriter& out) {
    lz::MatchFinder finder(data, {273, 1});
    std::size_t i = 0;
    while (i < data.size()) {
        const lz::Match here = finder.furthest(i, 273);
        if (here.length == 0) {
            out.literal(data[i++]);
            continue;
        }
        const lz::Match next = i + 1 < data.size() ? finder.furthest(i + 1, 273) : lz::Match{};
        if (next.length >= here.length + 2) {
            out.literal(data[i]);
            out.reference(next.length, next.distance);
            i += 1 + next.length;
        } else {
            out.reference(here.length, here.distance);
            i += here.length;
        }
    }
}

}  // namespace

Expected<std::uint32_t, CompressionError> yaz0Size(std::span<const std::uint8_t> file) {
    if (file.size() < kYaz0HeaderSize) return fail(CompressionError::TooShort);
    if (!(file[0] == 'Y' && file[1] == 'a' && file[2] == 'z' && (file[3] == '0' || file[3] == '1')))
        return fail(CompressionError::BadMagic);
    ByteReader r(file);
    r.skip(4);
    const std::uint32_t size = *r.u32be();
    if (size > kMaxDecompressedSize || size > mostFrom(file.size() - kYaz0HeaderSize))
        return fail(CompressionError::TooLarge);
    return size;
}

Expected<void, CompressionError> yaz0DecompressInto(std::span<const std::uint8_t> file, std::span<std::uint8_t> out) {
    const auto decoded = lz::yaz0DecodeInto(file, out);
    if (!decoded) return fail(decoded.error());
    return {};
}

Expected<std::vector<std::uint8_t>, CompressionError> yaz0Decompress(std::span<const std::uint8_t> file) {
    const auto size = yaz0Size(file);
    if (!size) return fail(size.error());
    std::vector<std::uint8_t> out(*size);
    const auto decoded = lz::yaz0DecodeInto(file, out);
    if (!decoded) return fail(decoded.error());
    return out;
}

Expected<std::vector<std::uint8_t>, CompressionError> yaz0Compress(std::span<const std::uint8_t> data,
                                                                   const Yaz0Options& options) {
    if (data.size() > kMaxDecompressedSize) return fail(CompressionError::TooLarge);
    ByteWriter header(data.size() / 2 + 64);
    header.append(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("Yaz0"), 4));
    header.u32be(static_cast<std::uint32_t>(data.size()));
    header.append(options.reserved);
    std::vector<std::uint8_t> out = header.take();
    GroupWriter groups(out, options.mode == Yaz0Mode::Nintendo);
    if (options.mode == Yaz0Mode::Nintendo) {
        nintendoRule(data, groups);
    } else {
        std::size_t at = 0;
        lz::optimalParse(data, {273, 1}, {9, 17, 17, 25}, [&](const lz::Item& item) {
            if (item.length == 0) {
                groups.literal(data[at++]);
            } else {
                groups.reference(item.length, item.distance);
                at += item.length;
            }
        });
    }
    if (options.padTo > 1) out.resize((out.size() + options.padTo - 1) / options.padTo * options.padTo, 0);
    return out;
}

}  // namespace tplforge
