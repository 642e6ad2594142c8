// SHA-256 against the example messages of FIPS 180-4 and messages whose lengths
// fall on either side of the padding's block edges (digests from coreutils'
// sha256sum), fed whole and in pieces that straddle blocks.
#include <gtest/gtest.h>

#include <string>

#include "codec/support/sha256_blocks.h"
#include "tplforge/sha256.h"

namespace tplforge {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, KnownDigestsWholeAndInPieces) {
    const std::pair<std::string, const char*> rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
    };
    for (const auto& [message, digest] : rows) {
        SCOPED_TRACE(message.size());
        EXPECT_EQ(hexText(sha256(bytesOf(message))), digest);
        for (const std::size_t piece : {1u, 7u, 63u, 64u, 65u}) {
            Sha256 hash;
            for (std::size_t at = 0; at < message.size(); at += piece)
                hash.update(bytesOf(message).subspan(at, std::min(piece, message.size() - at)));
            EXPECT_EQ(hexText(hash.finish()), digest) << "pieces of " << piece;
        }
    }
}

// The sides are part of what a picture shows: the same bytes as 2 x 1 and 1 x 2
// differ (digests of the sides and bytes spelled out, from sha256sum).
TEST(Sha256, PixelDigestCoversTheSides) {
    Image wide(2, 1), tall(1, 2);
    for (std::uint8_t i = 0; i < 8; ++i) wide.rgba[i] = tall.rgba[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(hexText(pixelDigest(wide)), "6df082ee9e3a3ee94a5b45e56195b613d35ef923f0eae841590515b750f34dcd");
    EXPECT_EQ(hexText(pixelDigest(tall)), "2d55a09d105405ac05f6a1277daab73deb816453465a02e40f37589f166d8b84");
}

// The digests above come from whichever kernel this processor runs; the other
// one is held to it here, block counts around the instructions' grouping included.
TEST(Sha256, KernelsAgree) {
    std::vector<std::uint8_t> data(64 * 40);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    for (const std::size_t blocks : {1u, 2u, 3u, 40u}) {
        std::uint32_t plain[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        std::uint32_t wide[8];
        std::copy(plain, plain + 8, wide);
        sha::blocksPlain(plain, data.data(), blocks);
        if (!sha::blocksWide(wide, data.data(), blocks)) GTEST_SKIP() << "no SHA instructions here";
        EXPECT_TRUE(std::equal(plain, plain + 8, wide)) << blocks;
    }
}

TEST(Sha256, HexTextReadsBack) {
    const Digest d = sha256(bytesOf("abc"));
    EXPECT_EQ(digestFromHex(hexText(d)), d);
    EXPECT_EQ(digestFromHex("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"), d);
    for (const char* bad : {"", "ba78", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015a",
                            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015adff",
                            "ga7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"})
        EXPECT_FALSE(digestFromHex(bad)) << bad;
}

}  // namespace
}  // namespace tplforge
