// Files laid out for the browser's tests: archives inside archives, a damaged
// member, RARC, BRRES, J3D, a banner, a TEX0 with its PLT0, a folder of them.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <string>
#include <vector>

#include "support/containers.h"
#include "support/scratch.h"  // fileBytes, writeBytes
#include "tplforge/tplforge.h"

namespace tplforge::testing {

namespace fs = std::filesystem;

inline const fs::path kRepo = TPLFORGE_SOURCE_DIR;

// A picture with every channel varying, alpha included.
inline Image gradient(std::uint32_t w, std::uint32_t h, unsigned seed = 0) {
    Image p(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* px = &p.rgba[(std::size_t{y} * w + x) * 4];
            px[0] = static_cast<std::uint8_t>(x * 255 / std::max(1u, w - 1));
            px[1] = static_cast<std::uint8_t>(y * 255 / std::max(1u, h - 1));
            px[2] = static_cast<std::uint8_t>((x + y + seed * 40) * 9);
            px[3] = static_cast<std::uint8_t>(255 - ((x * 3 + y + seed) * 255 / std::max(1u, 4 * w - 1)));
        }
    return p;
}

inline ByteVector tplOf(const std::vector<TextureInput>& inputs) {
    auto file = encodeTpl(inputs);
    if (!file) throw std::runtime_error("encodeTpl failed");
    return std::move(file).value();
}

inline ByteVector yaz0(const ByteVector& bytes) { return std::move(yaz0Compress(bytes)).value(); }
inline ByteVector u8Of(const std::vector<std::pair<std::string, ByteVector>>& members) {
    std::vector<NewMember> list;
    for (const auto& [path, bytes] : members) list.push_back({path, bytes});
    return std::move(buildU8(list)).value();
}

// A J3D model with one RGB5A3 texture, "wall", 8 × 8.
inline ByteVector j3dOneTexture() {
    EncodeOptions options;
    options.format = Format::RGB5A3;
    const TextureData data = std::move(encodeTextureData(gradient(8, 8, 3), options, 1)).value();
    Hand h;
    h.text("J3D2bdl4").u32(0).u32(2).text("SVR3").fill(12, 0xFF);
    h.text("INF1").u32(0x20).fill(0x18, 0);
    const std::size_t tex1 = h.b.size(), header = tex1 + 0x20, images = tex1 + 0x60;
    h.text("TEX1").u32(0).u16(1).u16(0xFFFF).u32(0x20).u32(0x40).to(header);
    const auto fromHeader = static_cast<std::uint32_t>(images - header);
    h.u8(5).u8(0).u16(8).u16(8).u8(1).u8(1).u8(0).u8(0).u16(0).u32(fromHeader);
    h.u8(0).u8(0).u8(0).u8(0).u8(1).u8(1).u8(0).u8(0).u8(1).u8(0).u16(0).u32(fromHeader);
    h.u16(1).u16(0xFFFF).u16(0).u16(8).cstr("wall").to(images);
    h.bytes(data.texels);
    h.set32(tex1 + 4, static_cast<std::uint32_t>(h.b.size() - tex1)).set32(8, static_cast<std::uint32_t>(h.b.size()));
    return h.b;
}

// Two textures, one with levels and alpha, one of a palette.
inline ByteVector twoTextureTpl() {
    const Image a = gradient(16, 16), b = gradient(8, 8, 1);
    TextureInput first{&a, {}, 3, {}};
    first.options.format = Format::RGBA8;
    TextureInput second{&b, {}, 1, {}};
    second.options.format = Format::C8;
    second.options.paletteFormat = PaletteFormat::RGB5A3;
    return tplOf({first, second});
}

// The folder every test opens, laid out afresh in `root`:
//   nested.szs   Yaz0 > U8: arc/a.tpl (2 textures), arc/bad.tpl (damaged),
//                arc/inner.szs (Yaz0 > U8 > b.tpl), model.brres, scene.arc (Yaz0 > RARC)
//   opening.bnr, model.bdl (J3D), menu.szs, game.u8, face.tex0 + face.plt0,
//   sub/c8-mip.bti, notes.txt (no textures: left out)
inline void layOut(const fs::path& root) {
    const auto read = [](const fs::path& p) { return fileBytes(p.string()); };
    const fs::path containers = kRepo / "tests/codec/data/containers";
    const fs::path corpus = kRepo / "tests/fuzz_corpus/path";
    const Image small = gradient(8, 8, 2);
    TextureInput inner{&small, {}, 1, {}};
    inner.options.format = Format::RGB5A3;
    ByteVector bad = twoTextureTpl();
    bad.resize(40);
    const ByteVector nested = yaz0(u8Of({{"arc/a.tpl", twoTextureTpl()},
                                         {"arc/bad.tpl", bad},
                                         {"arc/inner.szs", yaz0(u8Of({{"b.tpl", tplOf({inner})}}))},
                                         {"model.brres", read(containers / "textures.brres")},
                                         {"scene.arc", read(corpus / "seed-scene.arc")}}));
    fs::create_directories(root / "sub");
    writeBytes((root / "nested.szs").string(), nested);
    writeBytes((root / "opening.bnr").string(), read(corpus / "seed-opening.bnr"));
    writeBytes((root / "model.bdl").string(), j3dOneTexture());
    writeBytes((root / "menu.szs").string(), read(kRepo / "tests/api/data/menu.szs"));
    writeBytes((root / "game.u8").string(), read(containers / "game.u8"));
    writeBytes((root / "face.tex0").string(), read(containers / "face.tex0"));
    writeBytes((root / "face.plt0").string(), read(containers / "face.plt0"));
    writeBytes((root / "sub/c8-mip.bti").string(), read(containers / "c8-mip.bti"));
    writeBytes((root / "notes.txt").string(), bytesOf("not a texture"));
}

inline std::string writePicture(const fs::path& path, const Image& picture) {
    writeBytes(path.string(), std::move(writePng(picture, PngChannels::Rgba)).value());
    return path.string();
}

// `tplforge-cli replace FILE K PICTURE -o OUT`; the output's bytes, empty when it failed.
inline ByteVector cliReplace(const std::string& file, std::size_t k, const std::string& picture, const fs::path& out) {
    QProcess cli;
    cli.start(QStringLiteral(TPLFORGE_CLI),
              {QStringLiteral("replace"), QString::fromStdString(file), QString::number(k), QString::fromStdString(picture), QStringLiteral("-o"),
               QString::fromStdString(out.string())});
    if (!cli.waitForFinished(60000) || cli.exitCode() != 0) {
        qWarning("tplforge-cli replace: %s", cli.readAllStandardError().constData());
        return {};
    }
    return fileBytes(out.string());
}

}  // namespace tplforge::testing
