#include "codec/gx/block_rows.h"

#include <bit>
#include <cstring>
#include <utility>

#include "codec/gx/texel.h"

#if defined(__x86_64__) && !defined(TPLFORGE_BASELINE_ONLY)
#include <immintrin.h>
#define TPLFORGE_WIDE_KERNELS 1
#endif

// The kernels are written once over GCC's vector types, their width a template
// argument, and built at 16 bytes for the x86-64 baseline, 32 for AVX2 and 64
// for AVX-512; kernels() hands out the widest the processor runs. Unlike the
// plain loops of texel_runs.cpp, the shuffles that move texels between block
// order and rows must be spelt out, and a shuffle of a vector wider than the
// processor's falls apart into single elements: hence one width per build
// rather than target_clones of one body.

static_assert(std::endian::native == std::endian::little, "RGBA texels are read as little-endian words");

namespace tplforge::block_rows {

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

// Every helper that takes or gives a vector is inlined, lambdas too, even
// unoptimised: a call between code built for different widths would pass
// vectors by different conventions.
#define TPLFORGE_INLINE inline __attribute__((always_inline))
#define TPLFORGE_INLINE_LAMBDA __attribute__((always_inline))

template <int N>
struct V {
    typedef u16 U16 __attribute__((vector_size(N)));
    typedef u32 U32 __attribute__((vector_size(N)));
    typedef u64 U64 __attribute__((vector_size(N)));
    typedef std::int32_t S32 __attribute__((vector_size(N)));
};

template <class Vec>
TPLFORGE_INLINE Vec load(const void* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class Vec>
TPLFORGE_INLINE void store(void* p, Vec v) {
    std::memcpy(p, &v, sizeof v);
}

// A shuffle of a ++ b whose element i is Map::at(i), fixed at compile time.
template <class Map, class Vec, std::size_t... I>
TPLFORGE_INLINE Vec shuffle(Vec a, Vec b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, Map::at(I)...);
}
template <class Map, class Vec>
TPLFORGE_INLINE Vec shuffle(Vec a, Vec b) {
    return shuffle<Map>(a, b, std::make_index_sequence<sizeof(Vec) / sizeof(a[0])>{});
}

// The shuffles keep to 16-byte lanes wherever they can, where every width has
// single instructions for them. `L` is the element count of one vector.

// 16-bit elements, lane by lane: the low (Hi = 0) or high four of a and of b,
// taken in turn.
template <int Hi, int L>
struct Zip16 {
    static constexpr int at(std::size_t i) {
        const int j = static_cast<int>(i);
        return 8 * (j / 8) + 4 * Hi + (j % 8) / 2 + (j % 2 ? L : 0);
    }
};
// 16-bit elements, lane by lane: the even (Odd = 0) or odd four of a, then of b.
template <int Odd, int L>
struct Halves16 {
    static constexpr int at(std::size_t i) {
        const int j = static_cast<int>(i), p = j % 8;
        return 8 * (j / 8) + (p < 4 ? 2 * p : L + 2 * (p - 4)) + Odd;
    }
};
// 64-bit elements, two a lane: lane m of the result is lane 2m + First of a ++ b.
template <int First, int L>
struct TakeLanes {
    static constexpr int at(std::size_t i) {
        const int j = static_cast<int>(i);
        return 2 * (2 * (j / 2) + First) + j % 2;
    }
};
// The inverse of TakeLanes: half H of the lanes a0 b0 a1 b1 ...
template <int H, int L>
struct ZipLanes {
    static constexpr int at(std::size_t i) {
        const int j = static_cast<int>(i), g = H * (L / 2) + j / 2;
        return (g % 2 ? L : 0) + 2 * (g / 2) + j % 2;
    }
};

// High half of a 16-bit product, and the sum of the two signed products of each
// pair of 16-bit elements as a 32-bit one, which the vector types cannot say.
template <int N>
struct Isa;
template <>
struct Isa<16> {
    using U16 = V<16>::U16;
    using S32 = V<16>::S32;
    static TPLFORGE_INLINE U16 mulhi(U16 a, U16 b) {
#ifdef TPLFORGE_WIDE_KERNELS
        return reinterpret_cast<U16>(_mm_mulhi_epu16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
        typedef u32 Wide __attribute__((vector_size(32)));
        return __builtin_convertvector(__builtin_convertvector(a, Wide) * __builtin_convertvector(b, Wide) >> 16, U16);
#endif
    }
    static TPLFORGE_INLINE S32 madd(U16 a, U16 b) {
#ifdef TPLFORGE_WIDE_KERNELS
        return reinterpret_cast<S32>(_mm_madd_epi16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
        using U32 = V<16>::U32;
        const auto low = [](U16 v) TPLFORGE_INLINE_LAMBDA {
            return reinterpret_cast<S32>(reinterpret_cast<U32>(v) << 16) >> 16;
        };
        const auto high = [](U16 v) TPLFORGE_INLINE_LAMBDA { return reinterpret_cast<S32>(v) >> 16; };
        return low(a) * low(b) + high(a) * high(b);
#endif
    }
};
#ifdef TPLFORGE_WIDE_KERNELS
template <>
struct Isa<32> {
    using U16 = V<32>::U16;
    using S32 = V<32>::S32;
    __attribute__((target("avx2"))) static inline U16 mulhi(U16 a, U16 b) {
        return reinterpret_cast<U16>(_mm256_mulhi_epu16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
    }
    __attribute__((target("avx2"))) static inline S32 madd(U16 a, U16 b) {
        return reinterpret_cast<S32>(_mm256_madd_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
    }
};
template <>
struct Isa<64> {
    using U16 = V<64>::U16;
    using S32 = V<64>::S32;
    __attribute__((target("arch=x86-64-v4"))) static inline U16 mulhi(U16 a, U16 b) {
        return reinterpret_cast<U16>(_mm512_mulhi_epu16(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
    }
    __attribute__((target("arch=x86-64-v4"))) static inline S32 madd(U16 a, U16 b) {
        return reinterpret_cast<S32>(_mm512_madd_epi16(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
    }
};
#endif

// The divisions by 255 of texel.h as floor((v + Add) · Mul / 65536),
// exact for every 8-bit v (checked below).
template <u16 Add, u16 Mul>
struct Reduce {
    static constexpr u32 of(u32 v) { return ((v + Add) * Mul) >> 16; }
    template <int N, class U16>
    static TPLFORGE_INLINE U16 of(U16 v) {
        return Isa<N>::mulhi(v + Add, U16{} + Mul);
    }
};
using Round3 = Reduce<18, 1801>;
using Round4 = Reduce<8, 3856>;
using Round5 = Reduce<4, 7971>;
using Round6 = Reduce<2, 16192>;

template <class R, class Exact>
constexpr bool agree(Exact exact) {
    for (u32 v = 0; v < 256; ++v)
        if (R::of(v) != exact(v)) return false;
    return true;
}
static_assert(agree<Round3>(texel::reduce<3>));
static_assert(agree<Round4>(texel::reduce<4>));
static_assert(agree<Round5>(texel::reduce<5>));
static_assert(agree<Round6>(texel::reduce<6>));

template <class U16>
TPLFORGE_INLINE U16 swapBytes(U16 w) {
    return (w >> 8) | (w << 8);
}

// The blocks left after the last step go a texel at a time; rows may be bytes of
// an Image, hence the copies.
TPLFORGE_INLINE u32 texelAt(const u32* row, std::size_t x) {
    u32 t;
    std::memcpy(&t, row + x, 4);
    return t;
}
TPLFORGE_INLINE void putTexel(u32* row, std::size_t x, u32 t) { std::memcpy(row + x, &t, 4); }

using texel::packed;
using texel::unpacked;

// --- 16-bit formats --------------------------------------------------------------
//
// A step takes N / 16 blocks: 2N bytes of texel data, N bytes of each row. Lane k
// of the first vector of data holds rows 0 and 1 of a block, lane k of the second
// rows 2 and 3 (after the lane shuffle); zipping the two halves a texel makes
// leaves row 0 and row 1 of every block in the step side by side, as the picture
// has them.

// texel(word) turns a host-order word into the low and high 16 bits of its texels;
// one(word) is the per-texel function.
template <int N, class Texel, class One>
TPLFORGE_INLINE void decodeWords(const u8* in, std::size_t blocks, u32* const* rows, Texel texel, One one) {
    using U16 = typename V<N>::U16;
    using U64 = typename V<N>::U64;
    constexpr int L = N / 8;
    constexpr std::size_t step = N / 16;
    u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    std::size_t b = 0;
    for (; b + step <= blocks; b += step, in += 2 * N) {
        const U64 first = load<U64>(in), second = load<U64>(in + N);
        const U64 halves[2] = {shuffle<TakeLanes<0, L>>(first, second), shuffle<TakeLanes<1, L>>(first, second)};
        for (int h = 0; h < 2; ++h) {
            const auto [low, high] = texel(swapBytes(reinterpret_cast<U16>(halves[h])));
            store(row[2 * h] + 4 * b, shuffle<Zip16<0, N / 2>>(low, high));
            store(row[2 * h + 1] + 4 * b, shuffle<Zip16<1, N / 2>>(low, high));
        }
    }
    for (; b < blocks; ++b, in += 32)
        for (int t = 0; t < 16; ++t)
            putTexel(row[t / 4], 4 * b + t % 4, one(static_cast<u16>(in[2 * t] << 8 | in[2 * t + 1])));
}

// word(texels) gives each texel's word, host order, in the low half of its 32 bits.
template <int N, class Word, class One>
TPLFORGE_INLINE void encodeWords(const u32* const* rows, std::size_t blocks, u8* out, Word word, One one) {
    using U16 = typename V<N>::U16;
    using U32 = typename V<N>::U32;
    using U64 = typename V<N>::U64;
    constexpr int L = N / 8;
    constexpr std::size_t step = N / 16;
    const u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    std::size_t b = 0;
    for (; b + step <= blocks; b += step, out += 2 * N) {
        U32 words[4];
        for (int r = 0; r < 4; ++r) words[r] = word(load<U32>(row[r] + 4 * b));
        U64 pairs[2];  // rows 0 and 1, rows 2 and 3
        for (int h = 0; h < 2; ++h)
            pairs[h] = reinterpret_cast<U64>(swapBytes(shuffle<Halves16<0, N / 2>>(
                reinterpret_cast<U16>(words[2 * h]), reinterpret_cast<U16>(words[2 * h + 1]))));
        const U64 top = pairs[0], bottom = pairs[1];
        store(out, shuffle<ZipLanes<0, L>>(top, bottom));
        store(out + N, shuffle<ZipLanes<1, L>>(top, bottom));
    }
    for (; b < blocks; ++b, out += 32)
        for (int t = 0; t < 16; ++t) {
            const u16 w = one(texelAt(row[t / 4], 4 * b + t % 4));
            out[2 * t] = static_cast<u8>(w >> 8);
            out[2 * t + 1] = static_cast<u8>(w);
        }
}

// A field moved from bit `From` of the word to bit `To`.
template <int From, int To, class U16>
TPLFORGE_INLINE U16 moved(U16 w) {
    if constexpr (From >= To)
        return w >> (From - To);
    else
        return w << (To - From);
}

// Widening of a 5 or 6-bit field that starts at bit `At` of the word, to 8 bits
// at bit `To`: abcde -> abcdeabc, abcdef -> abcdefab.
template <int At, int To, class U16>
TPLFORGE_INLINE U16 widen5(U16 w) {
    return (moved<At, To + 3>(w) & static_cast<u16>(0xF8 << To)) | (moved<At + 2, To>(w) & static_cast<u16>(0x07 << To));
}
template <int At, int To, class U16>
TPLFORGE_INLINE U16 widen6(U16 w) {
    return (moved<At, To + 2>(w) & static_cast<u16>(0xFC << To)) | (moved<At + 4, To>(w) & static_cast<u16>(0x03 << To));
}

template <class U16>
struct Halves {
    U16 low, high;  // red | green << 8, blue | alpha << 8
};

template <class U16>
TPLFORGE_INLINE Halves<U16> rgb565Texels(U16 w) {
    return {widen5<11, 0>(w) | widen6<5, 8>(w), widen5<0, 0>(w) | 0xFF00};
}

template <class U16>
TPLFORGE_INLINE Halves<U16> rgb5a3Texels(U16 w) {
    const U16 opaque = -(w >> 15);
    const U16 opaqueLow = widen5<10, 0>(w) | widen5<5, 8>(w);
    const U16 opaqueHigh = widen5<0, 0>(w) | 0xFF00;
    // Both 4-bit fields a byte apart, widened by one multiply; alpha's three bits
    // times 73 repeat them (abc -> abcabcabc), of which the top eight are kept.
    const U16 clearLow = (((w >> 8) & 0x000F) | ((w << 4) & 0x0F00)) * 17;
    const U16 clearHigh = ((w & 0x000F) * 17) | ((((w >> 5) & 0x0380) * 73) & 0xFF00);
    return {(opaque & opaqueLow) | (~opaque & clearLow), (opaque & opaqueHigh) | (~opaque & clearHigh)};
}

// The texels seen as 16-bit halves: red and blue in the low bytes (`rb`), green
// and alpha in the high ones (`ga`), each widened to 16 bits for the arithmetic.
template <int N>
struct Channels {
    typename V<N>::U16 rb, ga;
    explicit TPLFORGE_INLINE Channels(typename V<N>::U32 texels) {
        const auto h = reinterpret_cast<typename V<N>::U16>(texels);
        rb = h & 0xFF;
        ga = h >> 8;
    }
};

template <int N>
TPLFORGE_INLINE typename V<N>::U32 rgb565Words(typename V<N>::U32 texels) {
    using U32 = typename V<N>::U32;
    const Channels<N> c(texels);
    const auto rb = reinterpret_cast<U32>(Round5::of<N>(c.rb)), g = reinterpret_cast<U32>(Round6::of<N>(c.ga));
    return (rb & 0x1F) << 11 | (g & 0x3F) << 5 | rb >> 16;
}

// The low halves of a texel's 16-bit lanes from `low`, the high ones from `high`.
template <int N, class U16>
TPLFORGE_INLINE U16 lowHigh(U16 low, U16 high) {
    using U32 = typename V<N>::U32;
    return reinterpret_cast<U16>((reinterpret_cast<U32>(low) & 0xFFFF) | (reinterpret_cast<U32>(high) & 0xFFFF0000));
}

// The two elements of each texel's 16-bit pair, to weigh fields by their places.
template <int N>
TPLFORGE_INLINE typename V<N>::U16 pairOf(u16 low, u16 high) {
    return reinterpret_cast<typename V<N>::U16>(typename V<N>::U32{} + (u32{high} << 16 | low));
}

// Each form's rounded word, and the one whose texel lies nearer, as texel.h chooses.
template <int N>
TPLFORGE_INLINE typename V<N>::U32 rgb5a3Words(typename V<N>::U32 texels) {
    using U16 = typename V<N>::U16;
    using S32 = typename V<N>::S32;
    const Channels<N> c(texels);
    const U16 rb5 = Round5::of<N>(c.rb), ga5 = Round5::of<N>(c.ga);
    const U16 rb4 = Round4::of<N>(c.rb), ga4 = Round4::of<N>(c.ga), ga3 = Round3::of<N>(c.ga);
    // Widened as the console does: 5 bits abcde -> abcdeabc, 4 bits times 17, 3 bits
    // abc -> abcabcab; the opaque form's alpha is 255.
    const U16 opaqueRb = rb5 << 3 | rb5 >> 2, opaqueGa = lowHigh<N>(U16(ga5 << 3 | ga5 >> 2), U16{} + 0xFF);
    const U16 clearRb = rb4 * 17, clearGa = lowHigh<N>(U16(ga4 * 17), U16(ga3 << 5 | ga3 << 2 | ga3 >> 1));
    // Fields to their places in the word: red with blue, green (and alpha) apart.
    const auto madd = [](U16 a, U16 b) TPLFORGE_INLINE_LAMBDA { return Isa<N>::madd(a, b); };
    const S32 opaque = madd(rb5, pairOf<N>(1 << 10, 1)) + madd(ga5, pairOf<N>(1 << 5, 0)) + 0x8000;
    const S32 clear =
        madd(rb4, pairOf<N>(1 << 8, 1)) + madd(ga4, pairOf<N>(1 << 4, 0)) + madd(ga3, pairOf<N>(0, 1 << 12));
    // How much farther the opaque texel o lies from the pixel p than the other, k:
    // (o - p)² - (k - p)² = (o - k)(o + k - 2p), every factor within 16 bits.
    const S32 opaqueFarther = madd(opaqueRb - clearRb, opaqueRb + clearRb - c.rb - c.rb) +
                              madd(opaqueGa - clearGa, opaqueGa + clearGa - c.ga - c.ga);
    return reinterpret_cast<typename V<N>::U32>(opaqueFarther <= 0 ? opaque : clear);
}

// --- RGBA8 -------------------------------------------------------------------------
//
// A block is 32 bytes of (alpha, red) pairs, then 32 of (green, blue), rows of 8
// bytes each. A step takes S = W / 16 blocks in four vectors of W bytes, at most
// 32: there is little to compute, and wider lanes would need shuffles across four
// vectors. Rotating an RGBA texel by a byte gives (alpha, red, green, blue).

template <int W>
TPLFORGE_INLINE void decodeRgba8Blocks(const u8* in, std::size_t blocks, u32* const* rows) {
    using U16 = typename V<W>::U16;
    using U32 = typename V<W>::U32;
    using U64 = typename V<W>::U64;
    constexpr std::size_t step = W / 16;
    u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    std::size_t b = 0;
    for (; b + step <= blocks; b += step, in += 4 * W) {
        const U64 v0 = load<U64>(in), v1 = load<U64>(in + W), v2 = load<U64>(in + 2 * W), v3 = load<U64>(in + 3 * W);
        U64 ar[2], gb[2];  // rows 0 and 1, rows 2 and 3
        if constexpr (step == 1) {
            ar[0] = v0, ar[1] = v1, gb[0] = v2, gb[1] = v3;
        } else {
            ar[0] = shuffle<TakeLanes<0, W / 8>>(v0, v2), ar[1] = shuffle<TakeLanes<1, W / 8>>(v0, v2);
            gb[0] = shuffle<TakeLanes<0, W / 8>>(v1, v3), gb[1] = shuffle<TakeLanes<1, W / 8>>(v1, v3);
        }
        for (int h = 0; h < 2; ++h) {
            const auto a = reinterpret_cast<U16>(ar[h]), g = reinterpret_cast<U16>(gb[h]);
            const auto even = reinterpret_cast<U32>(shuffle<Zip16<0, W / 2>>(a, g));
            const auto odd = reinterpret_cast<U32>(shuffle<Zip16<1, W / 2>>(a, g));
            store(row[2 * h] + 4 * b, even >> 8 | even << 24);
            store(row[2 * h + 1] + 4 * b, odd >> 8 | odd << 24);
        }
    }
    for (; b < blocks; ++b, in += 64)
        for (int t = 0; t < 16; ++t)
            putTexel(row[t / 4], 4 * b + t % 4,
                     u32{in[2 * t + 1]} | u32{in[32 + 2 * t]} << 8 | u32{in[33 + 2 * t]} << 16 | u32{in[2 * t]} << 24);
}

template <int W>
TPLFORGE_INLINE void encodeRgba8Blocks(const u32* const* rows, std::size_t blocks, u8* out) {
    using U16 = typename V<W>::U16;
    using U32 = typename V<W>::U32;
    using U64 = typename V<W>::U64;
    constexpr std::size_t step = W / 16;
    const u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    std::size_t b = 0;
    for (; b + step <= blocks; b += step, out += 4 * W) {
        U16 turned[4];
        for (int r = 0; r < 4; ++r) {
            const U32 t = load<U32>(row[r] + 4 * b);
            turned[r] = reinterpret_cast<U16>(t << 8 | t >> 24);
        }
        U64 ar[2], gb[2];
        for (int h = 0; h < 2; ++h) {
            ar[h] = reinterpret_cast<U64>(shuffle<Halves16<0, W / 2>>(turned[2 * h], turned[2 * h + 1]));
            gb[h] = reinterpret_cast<U64>(shuffle<Halves16<1, W / 2>>(turned[2 * h], turned[2 * h + 1]));
        }
        if constexpr (step == 1) {
            store(out, ar[0]), store(out + W, ar[1]), store(out + 2 * W, gb[0]), store(out + 3 * W, gb[1]);
        } else {
            store(out, shuffle<ZipLanes<0, W / 8>>(ar[0], ar[1]));
            store(out + W, shuffle<ZipLanes<0, W / 8>>(gb[0], gb[1]));
            store(out + 2 * W, shuffle<ZipLanes<1, W / 8>>(ar[0], ar[1]));
            store(out + 3 * W, shuffle<ZipLanes<1, W / 8>>(gb[0], gb[1]));
        }
    }
    for (; b < blocks; ++b, out += 64)
        for (int t = 0; t < 16; ++t) {
            const u32 p = texelAt(row[t / 4], 4 * b + t % 4);
            out[2 * t] = static_cast<u8>(p >> 24);
            out[2 * t + 1] = static_cast<u8>(p);
            out[32 + 2 * t] = static_cast<u8>(p >> 8);
            out[33 + 2 * t] = static_cast<u8>(p >> 16);
        }
}

// --- Palettes ------------------------------------------------------------------------
//
// A texel a load from the table, but where the table fits in registers: gathers
// came out slower than plain loads.

TPLFORGE_INLINE u64 eightBytes(const u8* p) {
    u64 v;
    std::memcpy(&v, p, 8);
    return v;
}

TPLFORGE_INLINE void lookUpC4One(const u8* in, std::size_t blocks, const u32* table, u32* const* rows) {
    u32* row[8];
    for (int r = 0; r < 8; ++r) row[r] = rows[r];
    for (std::size_t b = 0; b < blocks; ++b, in += 32)
#pragma GCC unroll 8
        for (int r = 0; r < 8; ++r)
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                putTexel(row[r], 8 * b + 2 * i, table[in[4 * r + i] >> 4]);
                putTexel(row[r], 8 * b + 2 * i + 1, table[in[4 * r + i] & 15]);
            }
}

TPLFORGE_INLINE void lookUpC8One(const u8* in, std::size_t blocks, const u32* table, u32* const* rows) {
    u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    for (std::size_t b = 0; b < blocks; ++b, in += 32)
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r) {
            const u64 indices = eightBytes(in + 8 * r);
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) putTexel(row[r], 8 * b + i, table[(indices >> (8 * i)) & 0xFF]);
        }
}

TPLFORGE_INLINE void lookUpC14x2One(const u8* in, std::size_t blocks, const u32* table, u32* const* rows) {
    u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    for (std::size_t b = 0; b < blocks; ++b, in += 32)
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r) {
            const u64 words = eightBytes(in + 8 * r);
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                const auto w = static_cast<u32>(words >> (16 * i));
                putTexel(row[r], 4 * b + i, table[((w & 0xFF) << 8 | (w >> 8 & 0xFF)) & 0x3FFF]);
            }
        }
}

#ifdef TPLFORGE_WIDE_KERNELS
// Sixteen colours fit in two registers: a row of eight texels is two permutes
// and a blend on the index's top bit.
__attribute__((target("avx2"))) inline void lookUpC4Permute(const u8* in, std::size_t blocks, const u32* table,
                                                            u32* const* rows) {
    u32* row[8];
    for (int r = 0; r < 8; ++r) row[r] = rows[r];
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 8));
    // Each byte twice, its high nibble first.
    const __m128i twice = _mm_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i shifts = _mm256_setr_epi32(4, 0, 4, 0, 4, 0, 4, 0);
    for (std::size_t b = 0; b < blocks; ++b, in += 32)
        for (int r = 0; r < 8; ++r) {
            int bytes;
            std::memcpy(&bytes, in + 4 * r, 4);
            const __m256i wide = _mm256_cvtepu8_epi32(_mm_shuffle_epi8(_mm_cvtsi32_si128(bytes), twice));
            const __m256i indices = _mm256_srlv_epi32(wide, shifts);  // bits above the nibble: see the blend
            const __m256i top = _mm256_slli_epi32(indices, 28);       // bit 3 of the index to the sign
            const __m256 texels = _mm256_blendv_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(low, indices)),
                                                    _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(high, indices)),
                                                    _mm256_castsi256_ps(top));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row[r] + 8 * b), _mm256_castps_si256(texels));
        }
}

// 256 colours fill sixteen AVX-512 registers: eight two-register permutes pick
// from every 32 of them, and three rounds of blends on the index's top bits
// choose among the eight. Rows r and r + 1 of a block are sixteen bytes in a row.
__attribute__((target("arch=x86-64-v4"))) inline void lookUpC8Permute(const u8* in, std::size_t blocks,
                                                                      const u32* table, u32* const* rows) {
    u32* row[4] = {rows[0], rows[1], rows[2], rows[3]};
    __m512i colours[16];
#pragma GCC unroll 16
    for (int k = 0; k < 16; ++k) colours[k] = _mm512_loadu_si512(table + 16 * k);
    for (std::size_t b = 0; b < blocks; ++b, in += 32)
#pragma GCC unroll 2
        for (int r = 0; r < 4; r += 2) {
            // The zero-masked forms: GCC 12 warns of the plain ones' undefined start.
            const __m512i indices =
                _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8 * r)));
            __m512i picked[8];
#pragma GCC unroll 8
            for (int k = 0; k < 8; ++k)
                picked[k] = _mm512_permutex2var_epi32(colours[2 * k], indices, colours[2 * k + 1]);
            __mmask16 set = _mm512_test_epi32_mask(indices, _mm512_set1_epi32(1 << 5));
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) picked[k] = _mm512_mask_blend_epi32(set, picked[2 * k], picked[2 * k + 1]);
            set = _mm512_test_epi32_mask(indices, _mm512_set1_epi32(1 << 6));
#pragma GCC unroll 2
            for (int k = 0; k < 2; ++k) picked[k] = _mm512_mask_blend_epi32(set, picked[2 * k], picked[2 * k + 1]);
            set = _mm512_test_epi32_mask(indices, _mm512_set1_epi32(1 << 7));
            picked[0] = _mm512_mask_blend_epi32(set, picked[0], picked[1]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row[r] + 8 * b),
                                _mm512_maskz_extracti64x4_epi64(0xF, picked[0], 0));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row[r + 1] + 8 * b),
                                _mm512_maskz_extracti64x4_epi64(0xF, picked[0], 1));
        }
}
#endif

// --- Each kernel at one width --------------------------------------------------------

template <int N>
struct Width {
    using U16 = typename V<N>::U16;
    using U32 = typename V<N>::U32;

    static TPLFORGE_INLINE void encodeRgb565(const u32* const* rows, std::size_t blocks, u8* out) {
        encodeWords<N>(
            rows, blocks, out, [](U32 t) TPLFORGE_INLINE_LAMBDA { return rgb565Words<N>(t); },
            [](u32 p) TPLFORGE_INLINE_LAMBDA { return texel::encodeRgb565(unpacked(p)); });
    }
    static TPLFORGE_INLINE void encodeRgb5a3(const u32* const* rows, std::size_t blocks, u8* out) {
        encodeWords<N>(
            rows, blocks, out, [](U32 t) TPLFORGE_INLINE_LAMBDA { return rgb5a3Words<N>(t); },
            [](u32 p) TPLFORGE_INLINE_LAMBDA { return texel::encodeRgb5a3(unpacked(p)); });
    }
    static TPLFORGE_INLINE void decodeRgb565(const u8* in, std::size_t blocks, u32* const* rows) {
        decodeWords<N>(
            in, blocks, rows, [](U16 w) TPLFORGE_INLINE_LAMBDA { return rgb565Texels(w); },
            [](u16 w) TPLFORGE_INLINE_LAMBDA { return packed(texel::decodeRgb565(w)); });
    }
    static TPLFORGE_INLINE void decodeRgb5a3(const u8* in, std::size_t blocks, u32* const* rows) {
        decodeWords<N>(
            in, blocks, rows, [](U16 w) TPLFORGE_INLINE_LAMBDA { return rgb5a3Texels(w); },
            [](u16 w) TPLFORGE_INLINE_LAMBDA { return packed(texel::decodeRgb5a3(w)); });
    }
    static TPLFORGE_INLINE void encodeRgba8(const u32* const* rows, std::size_t blocks, u8* out) {
        encodeRgba8Blocks<(N < 32 ? N : 32)>(rows, blocks, out);
    }
    static TPLFORGE_INLINE void decodeRgba8(const u8* in, std::size_t blocks, u32* const* rows) {
        decodeRgba8Blocks<(N < 32 ? N : 32)>(in, blocks, rows);
    }
    static TPLFORGE_INLINE void lookUpC4(const u8* in, std::size_t blocks, const u32* table, u32* const* rows) {
#ifdef TPLFORGE_WIDE_KERNELS
        if constexpr (N >= 32) return lookUpC4Permute(in, blocks, table, rows);
#endif
        lookUpC4One(in, blocks, table, rows);
    }
    static TPLFORGE_INLINE void lookUpC8(const u8* in, std::size_t blocks, const u32* table, u32* const* rows) {
#ifdef TPLFORGE_WIDE_KERNELS
        if constexpr (N == 64) return lookUpC8Permute(in, blocks, table, rows);
#endif
        lookUpC8One(in, blocks, table, rows);
    }
    static TPLFORGE_INLINE void lookUpC14x2(const u8* in, std::size_t blocks, const u32* table, u32* const* rows) {
        lookUpC14x2One(in, blocks, table, rows);
    }
};

// One set of functions a width, each built for its own instruction set.
#define TPLFORGE_KERNELS(N, TARGET)                                                                                  \
    TARGET void encodeRgb565##N(const u32* const* r, std::size_t n, u8* o) { Width<N>::encodeRgb565(r, n, o); }      \
    TARGET void encodeRgb5a3##N(const u32* const* r, std::size_t n, u8* o) { Width<N>::encodeRgb5a3(r, n, o); }      \
    TARGET void encodeRgba8##N(const u32* const* r, std::size_t n, u8* o) { Width<N>::encodeRgba8(r, n, o); }        \
    TARGET void decodeRgb565##N(const u8* i, std::size_t n, u32* const* r) { Width<N>::decodeRgb565(i, n, r); }      \
    TARGET void decodeRgb5a3##N(const u8* i, std::size_t n, u32* const* r) { Width<N>::decodeRgb5a3(i, n, r); }      \
    TARGET void decodeRgba8##N(const u8* i, std::size_t n, u32* const* r) { Width<N>::decodeRgba8(i, n, r); }        \
    TARGET void lookUpC4##N(const u8* i, std::size_t n, const u32* t, u32* const* r) {                             \
        Width<N>::lookUpC4(i, n, t, r);                                                                              \
    }                                                                                                                \
    TARGET void lookUpC8##N(const u8* i, std::size_t n, const u32* t, u32* const* r) {                             \
        Width<N>::lookUpC8(i, n, t, r);                                                                              \
    }                                                                                                                \
    TARGET void lookUpC14x2##N(const u8* i, std::size_t n, const u32* t, u32* const* r) {                          \
        Width<N>::lookUpC14x2(i, n, t, r);                                                                           \
    }                                                                                                                \
    constexpr Kernels kKernels##N = {encodeRgb565##N, encodeRgb5a3##N, encodeRgba8##N, decodeRgb565##N,             \
                                     decodeRgb5a3##N, decodeRgba8##N,  lookUpC4##N,    lookUpC8##N,                 \
                                     lookUpC14x2##N};

// Flattened, so that Isa's instructions, refused inside the helpers built for the
// baseline, are taken in where the wide instruction set is on.
TPLFORGE_KERNELS(16, __attribute__((flatten)))
#ifdef TPLFORGE_WIDE_KERNELS
TPLFORGE_KERNELS(32, __attribute__((target("avx2"), flatten)))
TPLFORGE_KERNELS(64, __attribute__((target("arch=x86-64-v4"), flatten)))
#endif

}  // namespace

bool runs(unsigned width) {
#ifdef TPLFORGE_WIDE_KERNELS
    __builtin_cpu_init();
    // x86-64-v4 as target_clones reads it: AVX-512 F, BW, CD, DQ and VL.
    if (width == 64)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl");
    if (width == 32) return __builtin_cpu_supports("avx2");
#endif
    return width == 16;
}

const Kernels& kernels(unsigned width) {
#ifdef TPLFORGE_WIDE_KERNELS
    if (width == 64) return kKernels64;
    if (width == 32) return kKernels32;
#endif
    (void)width;
    return kKernels16;
}

const Kernels& kernels() {
    static const Kernels& widest = kernels(runs(64) ? 64 : runs(32) ? 32 : 16);
    return widest;
}

}  // namespace tplforge::block_rows
