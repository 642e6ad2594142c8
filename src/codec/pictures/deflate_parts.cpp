#include "codec/pictures/deflate_parts.h"

#include <array>
#include <cstddef>
#include <optional>
#include <span>

// Finding the last block means reading every block before it: the Huffman codes
// are decoded (into nothing) only to learn where each block ends.
namespace tplforge::deflate {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;

constexpr unsigned kMaxCodeLength = 15;

class BitReader {
public:
    explicit BitReader(std::span<const u8> data) : data_(data) {}

    std::size_t position() const { return pos_; }
    bool ok() const { return ok_; }

    // The next n bits (n ≤ 24), lowest first, without taking them; zeros past the end.
    u32 peek(unsigned n) const {
        u32 v = 0;
        const std::size_t at = pos_ >> 3;
        for (std::size_t k = 0; k < 4 && at + k < data_.size(); ++k) v |= u32{data_[at + k]} << (8 * k);
        return (v >> (pos_ & 7)) & ((u32{1} << n) - 1);
    }
    void drop(unsigned n) {
        if (pos_ + n > data_.size() * 8) ok_ = false;
        else pos_ += n;
    }
    u32 take(unsigned n) {
        const u32 v = peek(n);
        drop(n);
        return ok_ ? v : 0;
    }
    void skipToByte() { drop(static_cast<unsigned>((8 - (pos_ & 7)) & 7)); }
    void skipBytes(std::size_t count) {
        if (count > data_.size() - pos_ / 8) ok_ = false;
        else pos_ += 8 * count;
    }

private:
    std::span<const u8> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// A canonical Huffman code as a table indexed by its longest code's worth of
// upcoming bits: each entry holds the symbol and its length (0: no code).
class Code {
public:
    bool build(std::span<const u8> lengths) {
        std::array<unsigned, kMaxCodeLength + 1> count{};
        for (const u8 l : lengths) ++count[l];
        count[0] = 0;
        bits_ = 0;
        for (unsigned l = 1; l <= kMaxCodeLength; ++l)
            if (count[l]) bits_ = l;
        std::array<unsigned, kMaxCodeLength + 2> next{};
        int left = 1;
        for (unsigned l = 1; l <= kMaxCodeLength; ++l) {
            left = 2 * left - static_cast<int>(count[l]);
            if (left < 0) return false;  // more codes than the lengths hold
            next[l + 1] = (next[l] + count[l]) << 1;
        }
        table_.assign(std::size_t{1} << bits_, Entry{});
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            const unsigned l = lengths[symbol];
            if (l == 0) continue;
            const unsigned code = next[l]++;
            unsigned reversed = 0;
            for (unsigned b = 0; b < l; ++b) reversed |= ((code >> b) & 1u) << (l - 1 - b);
            for (std::size_t i = reversed; i < table_.size(); i += std::size_t{1} << l)
                table_[i] = {static_cast<std::uint16_t>(symbol), static_cast<std::uint8_t>(l)};
        }
        return true;
    }

    std::optional<unsigned> read(BitReader& in) const {
        const Entry e = table_[in.peek(bits_)];
        if (e.length == 0) return std::nullopt;
        in.drop(e.length);
        if (!in.ok()) return std::nullopt;
        return e.symbol;
    }

private:
    struct Entry {
        std::uint16_t symbol = 0;
        std::uint8_t length = 0;
    };
    std::vector<Entry> table_;
    unsigned bits_ = 0;
};

constexpr std::array<u8, 29> kLengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

bool readCodes(BitReader& in, Code& lengths, Code& distances) {
    const unsigned literalCount = in.take(5) + 257, distanceCount = in.take(5) + 1, codeCount = in.take(4) + 4;
    static constexpr std::array<u8, 19> kOrder{16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::array<u8, 19> codeLengths{};
    for (unsigned i = 0; i < codeCount; ++i) codeLengths[kOrder[i]] = static_cast<u8>(in.take(3));
    Code lengthCode;
    if (!in.ok() || literalCount > 286 || distanceCount > 30 || !lengthCode.build(codeLengths)) return false;
    std::array<u8, 286 + 30> all{};
    for (unsigned i = 0; i < literalCount + distanceCount;) {
        const auto symbol = lengthCode.read(in);
        if (!symbol) return false;
        unsigned repeat = 1;
        u8 value = static_cast<u8>(*symbol);
        if (*symbol == 16) {
            if (i == 0) return false;
            value = all[i - 1], repeat = 3 + in.take(2);
        } else if (*symbol == 17) {
            value = 0, repeat = 3 + in.take(3);
        } else if (*symbol == 18) {
            value = 0, repeat = 11 + in.take(7);
        }
        if (!in.ok() || i + repeat > literalCount + distanceCount) return false;
        for (; repeat > 0; --repeat) all[i++] = value;
    }
    return lengths.build(std::span(all).first(literalCount)) &&
           distances.build(std::span(all).subspan(literalCount, distanceCount));
}

bool skipSymbols(BitReader& in, const Code& lengths, const Code& distances) {
    for (;;) {
        const auto symbol = lengths.read(in);
        if (!symbol || *symbol > 285) return false;
        if (*symbol < 256) continue;
        if (*symbol == 256) return true;
        in.drop(kLengthExtra[*symbol - 257]);
        const auto distance = distances.read(in);
        if (!distance || *distance > 29) return false;
        in.drop(*distance < 4 ? 0 : *distance / 2 - 1);
        if (!in.ok()) return false;
    }
}

}  // namespace

bool leaveOpen(std::vector<std::uint8_t>& stream) {
    BitReader in(stream);
    Code lengths, distances;
    std::size_t lastHeader = 0;
    for (bool last = false; !last;) {
        lastHeader = in.position();
        last = in.take(1) != 0;
        const u32 type = in.take(2);
        if (!in.ok()) return false;
        if (type == 0) {
            in.skipToByte();
            const u32 length = in.take(16), check = in.take(16);
            if (!in.ok() || (length ^ check) != 0xFFFF) return false;
            in.skipBytes(length);
            if (!in.ok()) return false;
            continue;
        }
        if (type == 1) {
            std::array<u8, 288> fixed{};
            for (std::size_t s = 0; s < fixed.size(); ++s) fixed[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
            const std::array<u8, 30> fixedDistances = [] {
                std::array<u8, 30> d{};
                d.fill(5);
                return d;
            }();
            if (!lengths.build(fixed) || !distances.build(fixedDistances)) return false;
        } else if (type != 2 || !readCodes(in, lengths, distances)) {
            return false;
        }
        if (!skipSymbols(in, lengths, distances)) return false;
    }
    // Past the end: the last header's flag cleared, zeros up to the next byte for
    // the stored block's header and its padding, then its empty length.
    const std::size_t end = in.position();
    stream[lastHeader >> 3] = static_cast<u8>(stream[lastHeader >> 3] & ~(1u << (lastHeader & 7)));
    if (end & 7) stream[end >> 3] = static_cast<u8>(stream[end >> 3] & ((1u << (end & 7)) - 1));
    stream.resize((end + 3 + 7) / 8, 0);
    for (const u8 b : {u8{0x00}, u8{0x00}, u8{0xFF}, u8{0xFF}}) stream.push_back(b);
    return true;
}

}  // namespace tplforge::deflate
