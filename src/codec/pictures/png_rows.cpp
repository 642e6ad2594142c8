#include "codec/pictures/png_rows.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <vector>

// Unfiltering Sub, Average and Paeth is a chain from each pixel to the next, so
// it is done a pixel at a time, all channels of the pixel in one SSE2 register;
// SSE4.1's absolute value and blend shorten Paeth's chain where the processor
// has them. Up has no chain and is a plain loop that the vectoriser widens,
// built for the baseline and for AVX2 (CMake gives this file the full cost
// model); TPLFORGE_BASELINE_ONLY keeps to the baseline. The writer's filters
// read only the picture's own rows, so they take 16 bytes a step.
#if defined(__x86_64__) && defined(__has_attribute) && !defined(TPLFORGE_BASELINE_ONLY)
#if __has_attribute(target_clones)
#define TPLFORGE_WIDE __attribute__((target_clones("default", "avx2")))
#endif
#endif
#ifndef TPLFORGE_WIDE
#define TPLFORGE_WIDE
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#define TPLFORGE_PNG_SSE2 1
#if defined(__x86_64__) && !defined(TPLFORGE_BASELINE_ONLY)
#include <immintrin.h>
#define TPLFORGE_PNG_SSE41 1
#endif
#endif

namespace tplforge::png {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;

int paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

TPLFORGE_WIDE void addAbove(const u8* in, const u8* above, u8* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<u8>(in[i] + above[i]);
}

// One byte a step: what depths below 8, grey and palettes take.
void unfilterBytes(Filter filter, const u8* in, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    const std::size_t first = bpp < n ? bpp : n;
    switch (filter) {
        case Filter::None: std::memcpy(out, in, n); return;
        case Filter::Up: addAbove(in, above, out, n); return;
        case Filter::Sub:
            std::memcpy(out, in, first);
            for (std::size_t i = bpp; i < n; ++i) out[i] = static_cast<u8>(in[i] + out[i - bpp]);
            return;
        case Filter::Average:
            for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<u8>(in[i] + (above[i] >> 1));
            for (std::size_t i = bpp; i < n; ++i) out[i] = static_cast<u8>(in[i] + ((out[i - bpp] + above[i]) >> 1));
            return;
        case Filter::Paeth:
            for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<u8>(in[i] + above[i]);
            for (std::size_t i = bpp; i < n; ++i)
                out[i] = static_cast<u8>(in[i] + paethPredictor(out[i - bpp], above[i], above[i - bpp]));
            return;
    }
}

#ifdef TPLFORGE_PNG_SSE2
// A pixel of B bytes; Wide loads four bytes whatever B is, for all pixels of a
// row but the last (a narrower copy goes through memory and stalls the chain).
template <unsigned B, bool Wide = false>
__m128i load(const u8* p) {
    u32 v = 0;
    std::memcpy(&v, p, Wide ? 4 : B);
    return _mm_cvtsi32_si128(static_cast<int>(v));
}

template <unsigned B>
void store(u8* p, __m128i x) {
    const u32 v = static_cast<u32>(_mm_cvtsi128_si32(x));
    std::memcpy(p, &v, B);
}

// The few steps of Paeth's chain that SSE4.1 does in one instruction.
struct Sse2 {
    static __m128i abs(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }
    static __m128i select(__m128i mask, __m128i yes, __m128i no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    }
};

#ifdef TPLFORGE_PNG_SSE41
struct Sse41 {
    __attribute__((target("sse4.1"))) static __m128i abs(__m128i x) { return _mm_abs_epi16(x); }
    __attribute__((target("sse4.1"))) static __m128i select(__m128i mask, __m128i yes, __m128i no) {
        return _mm_blendv_epi8(no, yes, mask);
    }
};
#endif

// The Paeth predictor in 16-bit lanes (a left, b above, c above left), for the
// writer, whose pixels do not wait on each other.
__m128i paeth16(__m128i a, __m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = Sse2::abs(bc), pb = Sse2::abs(ac), pc = Sse2::abs(_mm_add_epi16(bc, ac));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    return Sse2::select(notA, Sse2::select(_mm_cmpgt_epi16(pb, pc), c, b), a);
}

// A pixel a step: B bytes of the filtered row, S bytes of the row above and of
// the output (S = 4 for RGB read straight into RGBA, with opaque alpha); n is
// the filtered row's length.
template <unsigned B, unsigned S, class Ops = Sse2>
void unfilterPixels(Filter filter, const u8* in, const u8* above, u8* out, std::size_t n) {
    static_assert(S == B || (B == 3 && S == 4));
    const __m128i zero = _mm_setzero_si128();
    const __m128i alpha = S == B ? zero : _mm_cvtsi32_si128(static_cast<int>(0xFF000000u));
    // Every pixel but the last reads four bytes, the last only its own.
    const std::size_t wideEnd = n >= B ? n - B : 0;
    const auto run = [&](auto step) {
        std::size_t i = 0, o = 0;
        for (; i < wideEnd; i += B, o += S) step(i, o, std::true_type{});
        for (; i < n; i += B, o += S) step(i, o, std::false_type{});
    };
    const auto put = [&](std::size_t o, __m128i v) { store<S>(out + o, _mm_or_si128(v, alpha)); };
    switch (filter) {
        case Filter::None:
            if constexpr (S == B) std::memcpy(out, in, n);
            else run([&](std::size_t i, std::size_t o, auto wide) { put(o, load<B, wide>(in + i)); });
            return;
        case Filter::Up:
            if constexpr (S == B) addAbove(in, above, out, n);
            else
                run([&](std::size_t i, std::size_t o, auto wide) {
                    put(o, _mm_add_epi8(load<B, wide>(in + i), load<S>(above + o)));
                });
            return;
        case Filter::Sub: {
            __m128i a = zero;
            run([&](std::size_t i, std::size_t o, auto wide) {
                a = _mm_add_epi8(a, load<B, wide>(in + i));
                put(o, a);
            });
            return;
        }
        case Filter::Average: {
            // Rounding down: the byte average rounds up, so its low bit is taken off
            // where the two sums are odd.
            const __m128i one = _mm_set1_epi8(1);
            __m128i a = zero;
            run([&](std::size_t i, std::size_t o, auto wide) {
                const __m128i b = load<S>(above + o);
                const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
                a = _mm_add_epi8(load<B, wide>(in + i), mean);
                put(o, a);
            });
            return;
        }
        case Filter::Paeth: {
            // In 16-bit lanes: a left, b above, c above left. The three sums the
            // predictor may pick are made beside the choice, which then picks one
            // of them: the chain from one pixel to the next is the choice alone.
            const __m128i low = _mm_set1_epi16(0xFF);
            __m128i a = zero, c = zero;
            run([&](std::size_t i, std::size_t o, auto wide) {
                const __m128i b = _mm_unpacklo_epi8(load<S>(above + o), zero);
                const __m128i x = _mm_unpacklo_epi8(load<B, wide>(in + i), zero);
                const __m128i bc = _mm_sub_epi16(b, c), pa = Ops::abs(bc);
                const __m128i xb = _mm_and_si128(_mm_add_epi16(x, b), low), xc = _mm_and_si128(_mm_add_epi16(x, c), low);
                const __m128i ac = _mm_sub_epi16(a, c);
                const __m128i pb = Ops::abs(ac), pc = Ops::abs(_mm_add_epi16(bc, ac));
                const __m128i xa = _mm_and_si128(_mm_add_epi16(x, a), low);
                const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
                a = Ops::select(notA, Ops::select(_mm_cmpgt_epi16(pb, pc), xc, xb), xa);
                put(o, _mm_packus_epi16(a, a));
                c = b;
            });
            return;
        }
    }
}

#ifdef TPLFORGE_PNG_SSE41
template <unsigned B, unsigned S>
__attribute__((target("sse4.1"), flatten)) void unfilterPixelsSse41(Filter filter, const u8* in, const u8* above,
                                                                    u8* out, std::size_t n) {
    unfilterPixels<B, S, Sse41>(filter, in, above, out, n);
}

bool hasSse41() {
    static const bool has = __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

template <unsigned B, unsigned S>
void unfilterWidest(Filter filter, const u8* in, const u8* above, u8* out, std::size_t n) {
#ifdef TPLFORGE_PNG_SSE41
    if (hasSse41()) return unfilterPixelsSse41<B, S>(filter, in, above, out, n);
#endif
    unfilterPixels<B, S>(filter, in, above, out, n);
}
#endif

// The writer judges each filter by the bytes it leaves: a byte's size as a signed
// difference, capped, and a charge for not being zero. Plain sums of differences
// pick Paeth or Average on pictures of few levels (textures decoded from 5- and
// 6-bit fields), where Sub's runs of zeros compress a fifth smaller.
#ifdef TPLFORGE_PNG_SSE2
// 16 bytes of the row (x), of the pixels to their left (a), above (b) and above
// left (c); bytes before the row and past its end read as zeros, which every
// filter leaves as zeros that cost nothing.
struct Lanes {
    __m128i x, a, b, c;
};

__m128i loadu(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

Lanes lanesAt(const u8* row, const u8* above, std::size_t i, std::size_t n, unsigned bpp) {
    if (i >= bpp && i + 16 <= n) return {loadu(row + i), loadu(row + i - bpp), loadu(above + i), loadu(above + i - bpp)};
    alignas(16) u8 t[4][16] = {};
    for (std::size_t k = 0; k < 16 && i + k < n; ++k) {
        t[0][k] = row[i + k];
        t[2][k] = above[i + k];
        if (i + k >= bpp) t[1][k] = row[i + k - bpp], t[3][k] = above[i + k - bpp];
    }
    return {loadu(t[0]), loadu(t[1]), loadu(t[2]), loadu(t[3])};
}

__m128i filtered(Filter filter, const Lanes& l) {
    switch (filter) {
        case Filter::None: return l.x;
        case Filter::Sub: return _mm_sub_epi8(l.x, l.a);
        case Filter::Up: return _mm_sub_epi8(l.x, l.b);
        case Filter::Average: {
            const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(l.a, l.b), _mm_and_si128(_mm_xor_si128(l.a, l.b), _mm_set1_epi8(1)));
            return _mm_sub_epi8(l.x, mean);
        }
        case Filter::Paeth: {
            const __m128i zero = _mm_setzero_si128();
            const __m128i low = paeth16(_mm_unpacklo_epi8(l.a, zero), _mm_unpacklo_epi8(l.b, zero), _mm_unpacklo_epi8(l.c, zero));
            const __m128i high = paeth16(_mm_unpackhi_epi8(l.a, zero), _mm_unpackhi_epi8(l.b, zero), _mm_unpackhi_epi8(l.c, zero));
            return _mm_sub_epi8(l.x, _mm_packus_epi16(low, high));
        }
    }
    return l.x;
}

// The cost of 16 filtered bytes added to two 64-bit sums.
__m128i addCost(__m128i sum, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i size = _mm_min_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), _mm_set1_epi8(8));
    const __m128i nonZero = _mm_andnot_si128(_mm_cmpeq_epi8(v, zero), _mm_set1_epi8(4));
    return _mm_add_epi64(sum, _mm_sad_epu8(_mm_add_epi8(size, nonZero), zero));
}

std::size_t cheapestFilter(const u8* row, const u8* above, std::size_t n, unsigned bpp) {
    __m128i sums[kFilterCount];
    for (auto& s : sums) s = _mm_setzero_si128();
    for (std::size_t i = 0; i < n; i += 16) {
        const Lanes l = lanesAt(row, above, i, n, bpp);
        for (std::size_t k = 0; k < kFilterCount; ++k) sums[k] = addCost(sums[k], filtered(static_cast<Filter>(k), l));
    }
    std::size_t best = 0;
    std::uint64_t bestCost = ~std::uint64_t{0};
    for (std::size_t k = 0; k < kFilterCount; ++k) {
        const auto cost = static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums[k])) +
                          static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums[k], sums[k])));
        if (cost < bestCost) bestCost = cost, best = k;
    }
    return best;
}

void filterInto(Filter filter, const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), filtered(filter, lanesAt(row, above, i, n, bpp)));
    if (i < n) {
        alignas(16) u8 tail[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(tail), filtered(filter, lanesAt(row, above, i, n, bpp)));
        std::memcpy(out + i, tail, n - i);
    }
}
#else
u32 signedSize(u8 v) {
    const u32 size = v < 128 ? v : 256u - v;
    return (size < 8 ? size : 8) + (size != 0 ? 4 : 0);
}

u8 filteredByte(Filter filter, const u8* row, const u8* above, std::size_t i, unsigned bpp) {
    const int x = row[i], b = above[i], a = i >= bpp ? row[i - bpp] : 0, c = i >= bpp ? above[i - bpp] : 0;
    switch (filter) {
        case Filter::None: return static_cast<u8>(x);
        case Filter::Sub: return static_cast<u8>(x - a);
        case Filter::Up: return static_cast<u8>(x - b);
        case Filter::Average: return static_cast<u8>(x - ((a + b) >> 1));
        case Filter::Paeth: return static_cast<u8>(x - paethPredictor(a, b, c));
    }
    return static_cast<u8>(x);
}

std::size_t cheapestFilter(const u8* row, const u8* above, std::size_t n, unsigned bpp) {
    std::size_t best = 0;
    std::uint64_t bestCost = ~std::uint64_t{0};
    for (std::size_t k = 0; k < kFilterCount; ++k) {
        std::uint64_t cost = 0;
        for (std::size_t i = 0; i < n; ++i) cost += signedSize(filteredByte(static_cast<Filter>(k), row, above, i, bpp));
        if (cost < bestCost) bestCost = cost, best = k;
    }
    return best;
}

void filterInto(Filter filter, const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    for (std::size_t i = 0; i < n; ++i) out[i] = filteredByte(filter, row, above, i, bpp);
}
#endif

}  // namespace

void unfilterRow(Filter filter, const u8* in, const u8* above, u8* out, std::size_t n, unsigned bpp) {
#ifdef TPLFORGE_PNG_SSE2
    switch (bpp) {
        case 2: return unfilterWidest<2, 2>(filter, in, above, out, n);
        case 3: return unfilterWidest<3, 3>(filter, in, above, out, n);
        case 4: return unfilterWidest<4, 4>(filter, in, above, out, n);
        default: break;
    }
#endif
    unfilterBytes(filter, in, above, out, n, bpp);
}

void unfilterRgbToRgba(Filter filter, const u8* in, const u8* above, u8* out, std::size_t width) {
#ifdef TPLFORGE_PNG_SSE2
    unfilterWidest<3, 4>(filter, in, above, out, 3 * width);
#else
    // The row above is RGBA already: its RGB is gathered back for the byte loop.
    std::vector<u8> up(3 * width), raw(3 * width);
    for (std::size_t x = 0; x < width; ++x) std::memcpy(&up[3 * x], above + 4 * x, 3);
    unfilterBytes(filter, in, up.data(), raw.data(), 3 * width, 3);
    for (std::size_t x = 0; x < width; ++x) {
        std::memcpy(out + 4 * x, &raw[3 * x], 3);
        out[4 * x + 3] = 255;
    }
#endif
}

void filterRow(const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    filterRowWith(static_cast<Filter>(cheapestFilter(row, above, n, bpp)), row, above, out, n, bpp);
}

void filterRowWith(Filter filter, const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    out[0] = static_cast<u8>(filter);
    filterInto(filter, row, above, out + 1, n, bpp);
}

void keyRgba(u8* rgba, std::size_t width, u32 keyRgb) {
    for (std::size_t x = 0; x < width; ++x) {
        u32 v;
        std::memcpy(&v, rgba + 4 * x, 4);
        if ((v & 0xFFFFFF) == keyRgb) rgba[4 * x + 3] = 0;
    }
}

TPLFORGE_WIDE void greyAlphaToRgba(const u8* in, u8* out, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = in[2 * x];
        out[4 * x + 3] = in[2 * x + 1];
    }
}

void lookUpRgba(const u8* in, u8* out, std::size_t width, unsigned depth, const u32* table) {
    if (depth == 8) {
        for (std::size_t x = 0; x < width; ++x) std::memcpy(out + 4 * x, &table[in[x]], 4);
        return;
    }
    const unsigned perByte = 8 / depth, mask = (1u << depth) - 1;
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned shift = 8 - depth * (1 + static_cast<unsigned>(x % perByte));
        std::memcpy(out + 4 * x, &table[(in[x / perByte] >> shift) & mask], 4);
    }
}

}  // namespace tplforge::png
