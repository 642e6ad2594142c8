#include "tplforge/sha256.h"

#include <algorithm>
#include <bit>

#include "codec/support/sha256_blocks.h"
#include "tplforge/bytes.h"

#if defined(__x86_64__) && !defined(TPLFORGE_BASELINE_ONLY)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace tplforge {

namespace {

// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return std::rotr(x, n); }

std::uint32_t bigEndianWord(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

namespace sha {

void blocksPlain(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
    for (std::size_t n = 0; n < count; ++n) {
        const std::uint8_t* block = blocks + 64 * n;
        std::uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = bigEndianWord(block + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const std::uint32_t t1 =
                h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
            const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a, state[1] += b, state[2] += c, state[3] += d;
        state[4] += e, state[5] += f, state[6] += g, state[7] += h;
    }
}

#if defined(__x86_64__) && !defined(TPLFORGE_BASELINE_ONLY)

namespace {

// The instructions keep the state as two vectors, lanes from the lowest:
// (f, e, b, a) and (h, g, d, c); each rounds instruction does two rounds.
__attribute__((target("sha,sse4.1"))) void blocksSha(std::uint32_t state[8], const std::uint8_t* blocks,
                                                     std::size_t count) {
    const __m128i wordOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);
    for (std::size_t n = 0; n < count; ++n) {
        const std::uint8_t* block = blocks + 64 * n;
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];  // the words of rounds 4g .. 4g + 3, for g modulo 4
        for (int g = 0; g < 16; ++g) {
            __m128i& m = w[g % 4];
            if (g < 4) {
                m = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g)), wordOrder);
            } else {
                const __m128i& back1 = w[(g + 3) % 4];  // rounds 4g − 4 ..
                const __m128i& back2 = w[(g + 2) % 4];  // rounds 4g − 8 ..
                m = _mm_sha256msg1_epu32(m, w[(g + 1) % 4]);
                m = _mm_add_epi32(m, _mm_alignr_epi8(back1, back2, 4));
                m = _mm_sha256msg2_epu32(m, back1);
            }
            const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g));
            const __m128i wk = _mm_add_epi32(m, k);
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i abfe = _mm_shuffle_epi32(abef, 0x1B);  // lanes a, b, e, f
    const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);  // lanes g, h, c, d
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(abfe, ghcd, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(ghcd, abfe, 8));
}

bool hasShaInstructions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & (1u << 29))) return false;  // SHA
    return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 19)) && (c & (1u << 9));  // SSE4.1, SSSE3
}

}  // namespace

bool blocksWide(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
    static const bool available = hasShaInstructions();
    if (!available) return false;
    blocksSha(state, blocks, count);
    return true;
}

#else

bool blocksWide(std::uint32_t*, const std::uint8_t*, std::size_t) { return false; }

#endif

}  // namespace sha

namespace {

void compressBlocks(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
    if (!sha::blocksWide(state, blocks, count)) sha::blocksPlain(state, blocks, count);
}

}  // namespace

void Sha256::update(std::span<const std::uint8_t> bytes) {
    length_ += bytes.size();
    std::size_t at = 0;
    if (pendingBytes_ > 0) {
        const std::size_t take = std::min(bytes.size(), pending_.size() - pendingBytes_);
        std::copy_n(bytes.begin(), take, pending_.begin() + static_cast<std::ptrdiff_t>(pendingBytes_));
        pendingBytes_ += take;
        at = take;
        if (pendingBytes_ < pending_.size()) return;
        compressBlocks(state_.data(), pending_.data(), 1);
        pendingBytes_ = 0;
    }
    // Whole blocks straight from the caller's bytes.
    const std::size_t whole = (bytes.size() - at) / 64;
    compressBlocks(state_.data(), bytes.data() + at, whole);
    at += 64 * whole;
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end(), pending_.begin());
    pendingBytes_ = bytes.size() - at;
}

Digest Sha256::finish() {
    const std::uint64_t bits = length_ * 8;
    // A one bit, zeros up to 56 bytes into a block, the length in bits.
    std::uint8_t tail[72] = {0x80};
    const std::size_t zeros = (pendingBytes_ < 56 ? 56 : 120) - pendingBytes_;
    for (int i = 0; i < 8; ++i) tail[zeros + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update(std::span(tail, zeros + 8));
    Digest out;
    for (std::size_t i = 0; i < 8; ++i)
        for (std::size_t j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    return out;
}

Digest sha256(std::span<const std::uint8_t> bytes) {
    Sha256 hash;
    hash.update(bytes);
    return hash.finish();
}

Digest pixelDigest(const Image& picture) {
    ByteWriter sides;
    sides.u32be(picture.width);
    sides.u32be(picture.height);
    Sha256 hash;
    hash.update(sides.data());
    hash.update(picture.rgba);
    return hash.finish();
}

std::string hexText(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : digest) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::optional<Digest> digestFromHex(std::string_view text) {
    if (text.size() != 64) return std::nullopt;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Digest out;
    for (std::size_t i = 0; i < 32; ++i) {
        const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return out;
}

}  // namespace tplforge
