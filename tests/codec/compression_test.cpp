// Yaz0 and LZ77 against the worked streams, the Nintendo rule's choices, round
// trips in both modes, and the streams every reader must refuse; MD5 against the
// published test suite.
#include <random>

#include "support/containers.h"
#include "tplforge/compression.h"
#include "tplforge/md5.h"

namespace tplforge {
namespace {

using namespace std::literals;
using testing::bytesOf;
using testing::ByteVector;

ByteVector yaz0(std::uint32_t size, const ByteVector& stream) {
    testing::Hand h;
    h.text("Yaz0").u32(size).fill(8).bytes(stream);
    return h.b;
}

ByteVector compressed(const ByteVector& data, Yaz0Mode mode) {
    Yaz0Options options;
    options.mode = mode;
    auto out = yaz0Compress(data, options);
    EXPECT_TRUE(out);
    return out ? *out : ByteVector{};
}

TEST(Yaz0, WorkedStreamsDecodeAndTheNintendoRuleWritesThemAgain) {
    struct Case {
        ByteVector data;
        ByteVector stream;
    };
    const Case cases[] = {
        {bytesOf("abcabcabcabcX"), bytesOf({0xE8, 'a', 'b', 'c', 0x70, 0x02, 'X'})},
        {ByteVector(20, 0), bytesOf({0x80, 0x00, 0x00, 0x00, 0x01})},
        // Eight items: the next group's code byte is out before anything follows.
        {bytesOf("abcdefgh"), bytesOf({0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x00})},
        // 300 zeros: a literal, the longest reference (273, one back), then the
        // last 26 from as far back as they go (274).
        {ByteVector(300, 0), bytesOf({0x80, 0, 0x00, 0x00, 0xFF, 0x01, 0x11, 0x08})},
    };
    for (const Case& c : cases) {
        const ByteVector file = yaz0(static_cast<std::uint32_t>(c.data.size()), c.stream);
        const auto out = yaz0Decompress(file);
        ASSERT_TRUE(out) << describe(out.error());
        EXPECT_EQ(*out, c.data);
        EXPECT_EQ(compressed(c.data, Yaz0Mode::Nintendo), file);
    }
}

TEST(Yaz0, NintendoRuleTakesTheFurthestOfEquallyLongMatchesAndLooksOneAhead) {
    // The last "xab" matches 4 and 8 back: the further one is taken.
    EXPECT_EQ(compressed(bytesOf("xabQxabWxab"), Yaz0Mode::Nintendo),
              yaz0(11, bytesOf({0xF4, 'x', 'a', 'b', 'Q', 0x10, 0x03, 'W', 0x10, 0x07})));
    // At the second "b", "bcd" matches 3; one byte later "cdefg" matches 5, at
    // least 3 + 2: a literal "b", then the later match.
    EXPECT_EQ(compressed(bytesOf("bcdQcdefgZbcdefg"), Yaz0Mode::Nintendo),
              yaz0(16, bytesOf({0xFF, 'b', 'c', 'd', 'Q', 'c', 'd', 'e', 'f', 0xE0, 'g', 'Z', 'b', 0x30, 0x06})));
    // With only 3 + 1 one later, the match here stands.
    EXPECT_EQ(compressed(bytesOf("bcdQcdefZbcdef"), Yaz0Mode::Nintendo),
              yaz0(14, bytesOf({0xFF, 'b', 'c', 'd', 'Q', 'c', 'd', 'e', 'f', 0xB0, 'Z', 0x10, 0x08, 'e', 'f'})));
}

ByteVector sample(std::size_t n, unsigned seed) {
    // Runs, repeats at every distance and noise, as texture data has them.
    std::mt19937 rng(seed);
    ByteVector out;
    while (out.size() < n) {
        switch (rng() % 4) {
            case 0: out.insert(out.end(), rng() % 600, static_cast<std::uint8_t>(rng())); break;
            case 1:
                if (!out.empty()) {
                    const std::size_t back = 1 + rng() % std::min<std::size_t>(out.size(), 5000);
                    const std::size_t len = 1 + rng() % 400;
                    for (std::size_t i = 0; i < len; ++i) out.push_back(out[out.size() - back]);
                }
                break;
            default:
                for (unsigned i = rng() % 50; i > 0; --i) out.push_back(static_cast<std::uint8_t>(rng() % 7));
        }
    }
    out.resize(n);
    return out;
}

TEST(Yaz0, BothModesRoundTripAndTheSmallestIsNoLarger) {
    for (const std::size_t size : {0u, 1u, 2u, 3u, 17u, 18u, 274u, 4097u, 70000u, (1u << 20) + 5000u}) {
        SCOPED_TRACE(size);
        const ByteVector data = sample(size, static_cast<unsigned>(size));
        const ByteVector nintendo = compressed(data, Yaz0Mode::Nintendo);
        const ByteVector smallest = compressed(data, Yaz0Mode::Smallest);
        for (const ByteVector* file : {&nintendo, &smallest}) {
            const auto out = yaz0Decompress(*file);
            ASSERT_TRUE(out) << describe(out.error());
            EXPECT_EQ(*out, data);
        }
        EXPECT_LE(smallest.size(), nintendo.size());
    }
}

TEST(Yaz0, HeaderBytesAndPaddingAreWrittenAsAsked) {
    Yaz0Options options;
    options.reserved[3] = 0x20;
    options.padTo = 32;
    const auto out = yaz0Compress(bytesOf("abcabcabcabcX"), options);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 32u);
    EXPECT_EQ((*out)[11], 0x20);
    EXPECT_EQ(ByteVector(out->begin() + 23, out->end()), ByteVector(9, 0));
    EXPECT_TRUE(yaz0Decompress(*out));
}

TEST(Yaz0, StreamsThatBreakTheirHeaderAreRefused) {
    struct Case {
        const char* what;
        ByteVector file;
        CompressionError error;
    };
    const Case cases[] = {
        {"short header", bytesOf("Yaz0\0\0\0"sv), CompressionError::TooShort},
        {"other magic", bytesOf("Yaz2\0\0\0\1\0\0\0\0\0\0\0\0\x80" "a"sv), CompressionError::BadMagic},
        {"ends inside a group", yaz0(4, bytesOf({0xF0, 'a', 'b'})), CompressionError::EndsEarly},
        {"ends before a reference's third byte", yaz0(40, bytesOf({0x80, 'a', 0x00, 0x00})), CompressionError::EndsEarly},
        {"refers before the start", yaz0(10, bytesOf({0x80, 'a', 0x70, 0x01})), CompressionError::DistanceBeforeStart},
        {"copies past the size", yaz0(5, bytesOf({0x80, 'a', 0x70, 0x00})), CompressionError::PastAnnouncedSize},
        {"announces more than it can hold", yaz0(100000, bytesOf({0x00, 0x00, 0x00, 0xFF})), CompressionError::TooLarge},
        {"announces more than accepted", yaz0(0xFFFFFFFF, ByteVector(1 << 20, 0)), CompressionError::TooLarge},
    };
    for (const Case& c : cases) {
        const auto out = yaz0Decompress(c.file);
        ASSERT_FALSE(out) << c.what;
        EXPECT_EQ(out.error(), c.error) << c.what;
    }
    // Bytes after the announced size are padding, even in the middle of a group.
    const auto padded = yaz0Decompress(yaz0(2, bytesOf({0xFF, 'a', 'b', 'c', 0, 0, 0})));
    ASSERT_TRUE(padded);
    EXPECT_EQ(*padded, bytesOf("ab"));
}

TEST(Lz77, WorkedStreamDecodesAndRoundTripsNeverReferOneByteBack) {
    const auto example = lz77Decompress(bytesOf({0x10, 0x0D, 0x00, 0x00, 0x10, 'a', 'b', 'c', 0x60, 0x02, 'X'}));
    ASSERT_TRUE(example) << describe(example.error());
    EXPECT_EQ(*example, bytesOf("abcabcabcabcX"));
    const auto distanceOne = lz77Decompress(bytesOf({0x10, 0x05, 0x00, 0x00, 0x40, 'a', 0x10, 0x00}));
    ASSERT_TRUE(distanceOne);
    EXPECT_EQ(*distanceOne, bytesOf("aaaaa"));

    for (const std::size_t size : {0u, 5u, 19u, 4099u, 300000u}) {
        const ByteVector data = sample(size, 7 + static_cast<unsigned>(size));
        const auto stream = lz77Compress(data);
        ASSERT_TRUE(stream);
        const auto out = lz77Decompress(*stream);
        ASSERT_TRUE(out) << describe(out.error());
        EXPECT_EQ(*out, data);
        // Walk the stream: no reference is one byte back.
        std::size_t in = 4, o = 0;
        while (o < data.size()) {
            const unsigned flags = (*stream)[in++];
            for (unsigned k = 0; k < 8 && o < data.size(); ++k) {
                if (flags & (0x80u >> k)) {
                    const unsigned d = ((*stream)[in] & 0x0Fu) << 8 | (*stream)[in + 1];
                    EXPECT_NE(d, 0u) << "at output byte " << o;
                    o += ((*stream)[in] >> 4) + 3u;
                    in += 2;
                } else {
                    ++in;
                    ++o;
                }
            }
        }
    }
    EXPECT_EQ(lz77Compress(ByteVector(kLz77MaxSize + 1)).error(), CompressionError::TooLarge);
}

TEST(Lz77, StreamsThatBreakTheirHeaderAreRefused) {
    struct Case {
        ByteVector stream;
        CompressionError error;
    };
    const Case cases[] = {
        {bytesOf({0x10, 0x05}), CompressionError::TooShort},
        {bytesOf({0x11, 0x01, 0x00, 0x00, 0x00, 'a'}), CompressionError::BadMagic},
        {bytesOf({0x10, 0x03, 0x00, 0x00, 0x00, 'a'}), CompressionError::EndsEarly},
        {bytesOf({0x10, 0x08, 0x00, 0x00, 0x40, 'a', 0x20, 0x01}), CompressionError::DistanceBeforeStart},
        {bytesOf({0x10, 0x04, 0x00, 0x00, 0x40, 'a', 0x10, 0x00}), CompressionError::PastAnnouncedSize},
        {bytesOf({0x10, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}), CompressionError::TooLarge},
    };
    for (const Case& c : cases) {
        const auto out = lz77Decompress(c.stream);
        ASSERT_FALSE(out);
        EXPECT_EQ(out.error(), c.error);
    }
}

TEST(Md5, PublishedTestSuite) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, hex] : cases) {
        const Md5Digest d = md5(bytesOf(text));
        std::string got;
        for (std::uint8_t b : d) got += "0123456789abcdef"[b >> 4], got += "0123456789abcdef"[b & 15];
        EXPECT_EQ(got, hex) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace tplforge
