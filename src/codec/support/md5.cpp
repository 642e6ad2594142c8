// MD5 as RFC 1321 defines it: 64-byte blocks of sixteen little-endian words, four
// rounds of sixteen steps, the message padded with 0x80, zeros and its length in
// bits (64-bit little-endian).
#include <bit>
#include <cmath>

#include "tplforge/md5.h"

namespace tplforge {

namespace {

// T[i] = floor(2^32 × |sin(i + 1)|), i in radians.
const std::array<std::uint32_t, 64>& sineTable() {
    static const std::array<std::uint32_t, 64> table = [] {
        std::array<std::uint32_t, 64> t{};
        for (unsigned i = 0; i < 64; ++i)
            t[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(static_cast<double>(i + 1))) * 4294967296.0));
        return t;
    }();
    return table;
}

constexpr unsigned kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void block(std::array<std::uint32_t, 4>& state, std::span<const std::uint8_t, 64> bytes) {
    const auto& t = sineTable();
    std::uint32_t x[16];
    for (unsigned j = 0; j < 16; ++j)
        x[j] = std::uint32_t{bytes[4 * j]} | std::uint32_t{bytes[4 * j + 1]} << 8 |
               std::uint32_t{bytes[4 * j + 2]} << 16 | std::uint32_t{bytes[4 * j + 3]} << 24;
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned round = i / 16;
        std::uint32_t f;
        unsigned k;
        switch (round) {
            case 0: f = (b & c) | (~b & d); k = i; break;
            case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
        }
        const std::uint32_t sum = a + f + x[k] + t[i];
        a = d;
        d = c;
        c = b;
        b = b + std::rotl(sum, static_cast<int>(kShift[round][i % 4]));
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

Md5Digest md5(std::span<const std::uint8_t> data) {
    std::array<std::uint32_t, 4> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    const std::size_t whole = data.size() / 64 * 64;
    for (std::size_t at = 0; at < whole; at += 64) block(state, data.subspan(at).first<64>());

    std::array<std::uint8_t, 128> tail{};
    const std::size_t rest = data.size() - whole;
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(whole), data.end(), tail.begin());
    tail[rest] = 0x80;
    const std::size_t blocks = rest + 1 + 8 <= 64 ? 1 : 2;
    const std::uint64_t bits = std::uint64_t{data.size()} * 8;
    for (unsigned j = 0; j < 8; ++j) tail[blocks * 64 - 8 + j] = static_cast<std::uint8_t>(bits >> 8 * j);
    for (std::size_t k = 0; k < blocks; ++k) block(state, std::span(tail).subspan(64 * k).first<64>());

    Md5Digest out;
    for (unsigned j = 0; j < 16; ++j) out[j] = static_cast<std::uint8_t>(state[j / 4] >> 8 * (j % 4));
    return out;
}

}  // namespace tplforge
