// Small picture files made in memory, for the tests of the picture loader and of
// the command line.
#pragma once

#include <QBuffer>
#include <QImage>

#include <vector>

#include "tplforge/bytes.h"

namespace tplforge::testing {

// What Qt's writer for `format` makes of `image` (no bytes fail every check that uses them).
inline QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format, quality);
    return bytes;
}

// Each value cut to a Word; negative ones as two's complement.
template <typename Word>
QByteArray littleEndian(std::initializer_list<std::int64_t> words) {
    ByteWriter out;
    for (std::int64_t w : words) sizeof(Word) == 2 ? out.u16le(std::uint16_t(w)) : out.u32le(std::uint32_t(w));
    return QByteArray(reinterpret_cast<const char*>(out.data().data()), qsizetype(out.size()));
}

inline std::vector<std::uint8_t> bytesOf(const QByteArray& bytes) { return {bytes.begin(), bytes.end()}; }

// A cursor differs from an icon in its type field alone.
inline QByteArray asCursor(QByteArray icon) { return icon.replace(2, 1, "\x02", 1); }

// 3 × 2 pixels of palette entries 0 1 2 / 3 0 1 (C80A14, 0AC81E, 141EC8, FAFA05),
// a clear code before each; the second file's control block makes entry 3 transparent.
inline const QByteArray kGif = QByteArray::fromHex(
    "474946383961 0300 0200 810000 c80a140ac81e141ec8fafa05 2c 00000000 0300 0200 00 02 05 0443710453 00 3b");
inline const QByteArray kClearGif = QByteArray(kGif).insert(25, QByteArray::fromHex("21f9040100000300"));

}  // namespace tplforge::testing
