// LZ77 type 0x10, as inside the IMD5 banner parts: byte 0x10, the decompressed
// size in 24 bits little-endian, then groups of a flag byte and eight items,
// literal (bit 0) or a 2-byte reference (bit 1) of 3 … 18 bytes from 1 … 4096
// back. Reads every such stream; writes optimal parses without 1-byte distances.
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/compression/lz_parse.h"
#include "tplforge/bytes.h"
#include "tplforge/compression.h"

namespace tplforge {

namespace {
constexpr std::size_t kHeader = 4;
// Eight 18-byte references take 17 bytes.
std::uint64_t mostFrom(std::uint64_t streamBytes) { return streamBytes * (8 * 18) / 17 + 18; }
}  // namespace

Expected<std::vector<std::uint8_t>, CompressionError> lz77Decompress(std::span<const std::uint8_t> stream) {
    ByteReader r(stream);
    const auto type = r.u8();
    const auto announced = r.u24le();
    if (!announced) return fail(CompressionError::TooShort);
    if (*type != 0x10) return fail(CompressionError::BadMagic);
    if (*announced > mostFrom(stream.size() - kHeader)) return fail(CompressionError::TooLarge);

    std::vector<std::uint8_t> out(*announced);
    const std::size_t size = stream.size();
    const std::size_t n = out.size();
    std::size_t in = kHeader;
    std::size_t o = 0;
    while (o < n) {
        if (in >= size) return fail(CompressionError::EndsEarly);
        unsigned flags = stream[in++];
        // A whole group of input at hand, and then some: seven 2-byte references,
        // then a word read for literals.
        const bool wholeGroup = in + 7 * 2 + 8 <= size;
        for (unsigned k = 0; k < 8 && o < n; ++k, flags <<= 1) {
            if (!(flags & 0x80)) {
                if (wholeGroup && o + 8 <= n) {
                    const auto run = std::min<unsigned>(static_cast<unsigned>(std::countl_zero(static_cast<std::uint8_t>(flags))), 8 - k);
                    std::memcpy(std::span(out).subspan(o, 8).data(), stream.subspan(in, 8).data(), 8);
                    in += run;
                    o += run;
                    k += run - 1;
                    flags <<= run - 1;
                    continue;
                }
                if (in >= size) return fail(CompressionError::EndsEarly);
                out[o++] = stream[in++];
                continue;
            }
            if (!wholeGroup && in + 2 > size) return fail(CompressionError::EndsEarly);
            const unsigned b0 = stream[in];
            const std::size_t distance = ((b0 & 0x0F) << 8 | stream[in + 1]) + 1;
            const std::size_t length = (b0 >> 4) + 3;
            in += 2;
            if (distance > o) return fail(CompressionError::DistanceBeforeStart);
            if (length > n - o) return fail(CompressionError::PastAnnouncedSize);
            if (length + 8 <= n - o)
                lz::copyWithRoom(out, o, distance, length);
            else
                lz::copyBack(out, o, distance, length);
            o += length;
        }
    }
    return out;
}

Expected<std::vector<std::uint8_t>, CompressionError> lz77Compress(std::span<const std::uint8_t> data) {
    if (data.size() > kLz77MaxSize) return fail(CompressionError::TooLarge);
    ByteWriter out(data.size() / 2 + 16);
    out.u8(0x10);
    out.u24le(static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t>& bytes = out.data();
    std::size_t flags = 0;
    unsigned count = 8;
    std::size_t at = 0;
    lz::optimalParse(data, {18, 2}, {9, 18, 17, 17}, [&](const lz::Item& item) {
        if (count == 8) {
            flags = bytes.size();
            bytes.push_back(0);
            count = 0;
        }
        if (item.length == 0) {
            bytes.push_back(data[at++]);
        } else {
            bytes[flags] = static_cast<std::uint8_t>(bytes[flags] | 0x80u >> count);
            const std::uint32_t d = item.distance - 1;
            bytes.push_back(static_cast<std::uint8_t>((item.length - 3) << 4 | d >> 8));
            bytes.push_back(static_cast<std::uint8_t>(d));
            at += item.length;
        }
        ++count;
    });
    return out.take();
}

}  // namespace tplforge
