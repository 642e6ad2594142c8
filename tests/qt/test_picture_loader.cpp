// The picture loader against small files made here: Qt's writers where Qt has
// one, bytes laid out by hand for GIF and both metafile kinds.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "common/bytes.h"
#include "platform/qt/picture_loader.h"

using namespace tplforge;

namespace {

QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!image.save(&buffer, format, quality)) qFatal("cannot encode %s", format);
    return bytes;
}

template <typename Word>
QByteArray littleEndian(const std::vector<Word>& words) {
    ByteWriter out;
    for (Word w : words) sizeof(Word) == 2 ? out.u16le(std::uint16_t(w)) : out.u32le(w);
    return QByteArray(reinterpret_cast<const char*>(out.data().data()), qsizetype(out.size()));
}

constexpr ColourValue kBrush = rgb(200, 30, 60);

// A 40 × 20 unit metafile (96 units an inch when placeable) whose only drawing
// is a rectangle from (10, 5) to (30, 15) in kBrush, with no outline. A record is
// its size in 16-bit words (a 32-bit count), its function, its parameters.
QByteArray makeWmf(bool placeable) {
    std::vector<std::uint16_t> words{
        0xCDD7, 0x9AC6, 0, 0, 0, 40, 20, 96, 0, 0, 0,                          // placeable header, checksum last
        1, 9, 0x0300, 0, 0, 2, 8, 0, 0,                                        // header, size in words set below
        5, 0, 0x020B, 0, 0, 5, 0, 0x020C, 20, 40,                              // window origin y, x; extent
        7, 0, 0x02FC, 0, kBrush & 0xFFFF, kBrush >> 16, 0, 4, 0, 0x012D, 0,    // solid brush, selected
        8, 0, 0x02FA, 5, 0, 0, 0, 0, 4, 0, 0x012D, 1,                          // null pen, selected
        7, 0, 0x041B, 15, 30, 5, 10, 3, 0, 0x0000};                            // rectangle (b, r, t, l), end
    for (int i = 0; i < 10; ++i) words[10] ^= words[i];
    words[14] = std::uint16_t(words.size() - 11);
    if (!placeable) words.erase(words.begin(), words.begin() + 11);
    return littleEndian(words);
}

// The same drawing as an enhanced metafile, 40 × 20 pixels at 96 dpi. A record is
// its type, its size in bytes, its fields.
QByteArray makeEmf() {
    std::vector<std::uint32_t> words{
        1, 88, 0, 0, 39, 19, 0, 0, 1058, 529,                         // header: bounds (pixels), frame (0.01 mm),
        0x464D4520, 0x10000, 0, 7, 3, 0, 0, 0, 1024, 768, 271, 203,   // version, bytes (set below), records, device
        39, 24, 1, 0, kBrush, 0, 37, 12, 1,                           // solid brush, selected
        38, 28, 2, 5, 0, 0, 0, 37, 12, 2,                             // null pen, selected
        43, 24, 10, 5, 30, 15, 14, 20, 0, 16, 20};                    // rectangle, end of file
    words[12] = std::uint32_t(4 * words.size());
    return littleEndian(words);
}

}  // namespace

class PictureLoaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Null bytes: nothing is written.
    Expected<Raster, PictureError> load(const QString& name, const QByteArray& bytes) {
        QFile file(dir_.filePath(name));
        if (!bytes.isNull() && (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()))
            qFatal("cannot write %s", qPrintable(name));
        file.close();
        return loadPictureFile(QFile::encodeName(file.fileName()).toStdString());
    }

private slots:
    // Each read back exactly. Grey survives JPEG's colour conversion unchanged, and
    // full channels the icon reader's premultiplying.
    void readsEveryFormat() {
        Raster picture(5, 3);  // every pixel different, odd sides so that row padding matters
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) picture.at(x, y) = rgb(10 + 40 * x, 20 + 70 * y, 250 - 30 * x - 20 * y);
        const QByteArray bmp = encoded(imageFromRaster(picture), "bmp");

        Raster mono(9, 2, rgb(0, 0, 128));
        for (std::size_t i = 0; i < mono.pixels.size(); i += 3) mono.pixels[i] = rgb(255, 255, 0);
        const QByteArray monoBmp = encoded(
            imageFromRaster(mono).convertToFormat(QImage::Format_Mono, {qRgb(0, 0, 128), qRgb(255, 255, 0)}), "bmp");
        QCOMPARE(monoBmp.at(28), char(1));  // really one bit a pixel

        // 3 × 2 pixels of palette entries 0 1 2 / 3 0 1, a clear code before each;
        // the second file's control block makes entry 3 transparent.
        const QByteArray gif = QByteArray::fromHex(
            "474946383961 0300 0200 810000 c80a140ac81e141ec8fafa05 2c 00000000 0300 0200 00 02 05 0443710453 00 3b");
        Raster gifPixels(3, 2), clearPixels(3, 2);
        gifPixels.pixels = {0x140AC8, 0x1EC80A, 0xC81E14, 0x05FAFA, 0x140AC8, 0x1EC80A};
        clearPixels.pixels = {0x140AC8, 0x1EC80A, 0xC81E14, kSurfaceColour, 0x140AC8, 0x1EC80A};

        // Icons and cursors carry alpha: what is not fully opaque ends up over the
        // surface colour.
        const QRgb argb[] = {qRgba(255, 0, 0, 255), qRgba(255, 0, 0, 128), qRgba(0, 0, 255, 0), qRgba(0, 255, 255, 64)};
        QImage icon(2, 2, QImage::Format_ARGB32);
        for (int i = 0; i < 4; ++i) icon.setPixel(i % 2, i / 2, argb[i]);
        Raster blended(2, 2);
        blended.pixels = {rgb(255, 0, 0), blendOver(255, 0, 0, 128), kSurfaceColour, blendOver(0, 255, 255, 64)};
        const QByteArray ico = encoded(icon, "ico");
        const Raster grey(16, 8, rgb(90, 90, 90));

        struct Case { const char* name; QByteArray bytes; const Raster& expected; };
        const Case cases[] = {
            {"a.bmp", bmp, picture},
            {"header-less.dib", bmp.mid(14), picture},
            {"bitmap.gif", bmp, picture},  // the content decides
            {"a.png", encoded(imageFromRaster(picture), "png"), picture},
            {"mono.bmp", monoBmp, mono},
            {"a.gif", gif, gifPixels},
            {"clear.gif", QByteArray(gif).insert(25, QByteArray::fromHex("21f9040100000300")), clearPixels},
            {"a.jpg", encoded(imageFromRaster(grey), "jpeg", 100), grey},
            {"a.ico", ico, blended},
            {"a.cur", QByteArray(ico).replace(2, 1, "\x02", 1), blended},  // the type field
        };
        for (const Case& c : cases) {
            const auto result = load(c.name, c.bytes);
            QVERIFY2(result.ok() && *result == c.expected, c.name);
        }
    }

    void rendersMetafiles() {
        const std::pair<const char*, QByteArray> files[] = {
            {"a.wmf", makeWmf(true)}, {"a.emf", makeEmf()}, {"plain.wmf", makeWmf(false)}};
        for (const auto& [name, bytes] : files) {
            const auto result = load(name, bytes);
            QVERIFY2(result.ok(), name);
            QCOMPARE(result->at(result->width / 2, result->height / 2), kBrush);
            if (name == std::string_view("plain.wmf")) continue;  // no frame: its box hugs the drawing
            QVERIFY(qAbs(result->width - 40) <= 1 && qAbs(result->height - 20) <= 1);
            // The frame's margins are kept; what is not painted shows the surface colour.
            for (QPoint p : {QPoint(36, 17), QPoint(20, 2), QPoint(5, 10), QPoint(35, 10), QPoint(20, 18)})
                QCOMPARE(result->at(p.x(), p.y()), kSurfaceColour);
        }
    }

    void reportsFailures() {
        const QImage image = imageFromRaster(Raster(64, 48));
        const QByteArray bmp = encoded(image, "bmp"), png = encoded(image, "png"), jpeg = encoded(image, "jpeg");
        QByteArray huge = bmp.left(54);  // claims 30000 × 30000 pixels, past the allocation limit
        huge.replace(18, 8, littleEndian(std::vector<std::uint32_t>{30000, 30000}));
        QVERIFY(QDir(dir_.path()).mkpath("folder.bmp"));

        const std::tuple<const char*, QByteArray, PictureError> cases[] = {  // null bytes: no file written
            {"missing.bmp", QByteArray(), PictureError::CannotOpen},
            {"folder.bmp", QByteArray(), PictureError::CannotOpen},
            {"notes.bmp", QByteArray("just some words\n"), PictureError::NotAPicture},
            {"empty.png", QByteArray(""), PictureError::NotAPicture},
            {"cut.bmp", bmp.left(bmp.size() / 2), PictureError::Corrupt},
            {"head.bmp", bmp.left(20), PictureError::Corrupt},
            {"no-end.jpg", jpeg.left(jpeg.size() - 2), PictureError::Corrupt},
            {"cut.png", png.left(png.size() / 2), PictureError::Corrupt},
            {"cut.gif", QByteArray("GIF89a\x05"), PictureError::Corrupt},
            {"cut.ico", QByteArray::fromHex("000001000100"), PictureError::Corrupt},
            {"cut.wmf", makeWmf(true).left(30), PictureError::Corrupt},
            {"cut.emf", makeEmf().left(88), PictureError::Corrupt},
            {"huge.bmp", huge, PictureError::TooLarge},
        };
        for (const auto& [name, bytes, error] : cases) {
            const auto result = load(name, bytes);
            QVERIFY2(!result.ok() && result.error() == error, name);
        }
    }
};

QTEST_GUILESS_MAIN(PictureLoaderTest)
#include "test_picture_loader.moc"
