#include "codec/png_rows.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <vector>

// Unfiltering Sub, Average and Paeth is a chain from each pixel to the next, so
// it is done a pixel at a time, all channels of the pixel in one SSE2 register;
// Up and the filters of the writer have no chain and are plain loops that the
// vectoriser widens, built for the baseline and for AVX2 (CMake gives this file
// the full cost model). TPLFORGE_BASELINE_ONLY keeps to the baseline.
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

__m128i abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

// A pixel a step: B bytes of the filtered row, S bytes of the row above and of
// the output (S = 4 for RGB read straight into RGBA, with opaque alpha); n is
// the filtered row's length.
template <unsigned B, unsigned S>
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
            // In 16-bit lanes: a left, b above, c above left.
            __m128i a = zero, c = zero;
            run([&](std::size_t i, std::size_t o, auto wide) {
                const __m128i b = _mm_unpacklo_epi8(load<S>(above + o), zero);
                const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
                const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
                const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
                const __m128i useC = _mm_cmpgt_epi16(pb, pc);
                const __m128i bOrC = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
                const __m128i predicted = _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
                const __m128i x = _mm_unpacklo_epi8(load<B, wide>(in + i), zero);
                a = _mm_and_si128(_mm_add_epi16(x, predicted), _mm_set1_epi16(0xFF));
                put(o, _mm_packus_epi16(a, a));
                c = b;
            });
            return;
        }
    }
}
#endif

// The writer's filters, each giving the cost it is judged by: a byte's size as a
// signed difference, capped, and a charge for not being zero. Plain sums of
// differences pick Paeth or Average on pictures of few levels (textures decoded
// from 5- and 6-bit fields), where Sub's runs of zeros compress a fifth smaller.
u32 signedSize(u8 v) {
    const u32 size = v < 128 ? v : 256u - v;
    return (size < 8 ? size : 8) + (size != 0 ? 4 : 0);
}

TPLFORGE_WIDE u32 subRow(const u8* row, u8* out, std::size_t n, unsigned bpp) {
    u32 sum = 0;
    for (std::size_t i = 0; i < bpp; ++i) sum += signedSize(out[i] = row[i]);
    for (std::size_t i = bpp; i < n; ++i) sum += signedSize(out[i] = static_cast<u8>(row[i] - row[i - bpp]));
    return sum;
}

TPLFORGE_WIDE u32 upRow(const u8* row, const u8* above, u8* out, std::size_t n) {
    u32 sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += signedSize(out[i] = static_cast<u8>(row[i] - above[i]));
    return sum;
}

TPLFORGE_WIDE u32 averageRow(const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    u32 sum = 0;
    for (std::size_t i = 0; i < bpp; ++i) sum += signedSize(out[i] = static_cast<u8>(row[i] - (above[i] >> 1)));
    for (std::size_t i = bpp; i < n; ++i)
        sum += signedSize(out[i] = static_cast<u8>(row[i] - ((row[i - bpp] + above[i]) >> 1)));
    return sum;
}

TPLFORGE_WIDE u32 paethRow(const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    u32 sum = 0;
    for (std::size_t i = 0; i < bpp; ++i) sum += signedSize(out[i] = static_cast<u8>(row[i] - above[i]));
    for (std::size_t i = bpp; i < n; ++i) {
        const int a = row[i - bpp], b = above[i], c = above[i - bpp];
        const int bc = b - c, ac = a - c;
        const int pa = bc < 0 ? -bc : bc, pb = ac < 0 ? -ac : ac, pc = bc + ac < 0 ? -(bc + ac) : bc + ac;
        const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        sum += signedSize(out[i] = static_cast<u8>(row[i] - predicted));
    }
    return sum;
}

TPLFORGE_WIDE u32 noneRow(const u8* row, u8* out, std::size_t n) {
    u32 sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += signedSize(out[i] = row[i]);
    return sum;
}

u32 filterInto(Filter filter, const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    switch (filter) {
        case Filter::None: return noneRow(row, out, n);
        case Filter::Sub: return subRow(row, out, n, bpp);
        case Filter::Up: return upRow(row, above, out, n);
        case Filter::Average: return averageRow(row, above, out, n, bpp);
        case Filter::Paeth: return paethRow(row, above, out, n, bpp);
    }
    return 0;
}

}  // namespace

void unfilterRow(Filter filter, const u8* in, const u8* above, u8* out, std::size_t n, unsigned bpp) {
#ifdef TPLFORGE_PNG_SSE2
    switch (bpp) {
        case 2: return unfilterPixels<2, 2>(filter, in, above, out, n);
        case 3: return unfilterPixels<3, 3>(filter, in, above, out, n);
        case 4: return unfilterPixels<4, 4>(filter, in, above, out, n);
        default: break;
    }
#endif
    unfilterBytes(filter, in, above, out, n, bpp);
}

void unfilterRgbToRgba(Filter filter, const u8* in, const u8* above, u8* out, std::size_t width) {
#ifdef TPLFORGE_PNG_SSE2
    unfilterPixels<3, 4>(filter, in, above, out, 3 * width);
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

void filterRow(const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp, u8* scratch) {
    std::size_t best = 0;
    u32 bestCost = ~u32{0};
    for (std::size_t k = 0; k < kFilterCount; ++k) {
        const u32 cost = filterInto(static_cast<Filter>(k), row, above, scratch + k * n, n, bpp);
        if (cost < bestCost) bestCost = cost, best = k;
    }
    out[0] = static_cast<u8>(best);
    std::memcpy(out + 1, scratch + best * n, n);
}

void filterRowWith(Filter filter, const u8* row, const u8* above, u8* out, std::size_t n, unsigned bpp) {
    out[0] = static_cast<u8>(filter);
    (void)filterInto(filter, row, above, out + 1, n, bpp);
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
