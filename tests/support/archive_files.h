// Archives and banner parts laid out as the games' own tools lay them out, for
// the tests that run tplforge-cli on them.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "support/containers.h"
#include "tplforge/archive.h"
#include "tplforge/compression.h"
#include "tplforge/md5.h"

namespace tplforge::testing {

inline ByteVector u8Of(std::initializer_list<std::pair<std::string, ByteVector>> members,
                       U8Layout layout = U8Layout::game()) {
    std::vector<NewMember> list;
    for (const auto& [path, bytes] : members) list.push_back({path, bytes});
    auto out = buildU8(list, layout);
    EXPECT_TRUE(out);
    return out ? *out : ByteVector{};
}

inline ByteVector szs(const ByteVector& data) { return yaz0Compress(data).value(); }

// A banner part: the IMD5 header with the MD5 of its body.
inline ByteVector imd5(const ByteVector& body) {
    const Md5Digest digest = md5(body);
    Hand h;
    h.text("IMD5").u32(static_cast<std::uint32_t>(body.size())).fill(8);
    h.b.insert(h.b.end(), digest.begin(), digest.end());
    return h.bytes(body).b;
}

// opening.bnr holding one part, meta/banner.bin: 64 zeros, IMET and its hashed block, the U8.
inline ByteVector bannerWith(const ByteVector& part, std::uint32_t bannerSize) {
    Hand h;
    h.fill(0x40).text("IMET").u32(0x600).u32(3).u32(0).u32(bannerSize).u32(0).to(0x600);
    const Md5Digest d = md5(h.b);
    std::copy(d.begin(), d.end(), h.b.begin() + 0x5F0);
    return h.bytes(u8Of({{"meta/banner.bin", part}}, U8Layout::banner())).b;
}

}  // namespace tplforge::testing
