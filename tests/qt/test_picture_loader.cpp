// The picture loader against small files made here: Qt's writers where Qt has
// one, bytes laid out by hand for GIF and both metafile kinds. It runs inside the
// reader process now; over the surface it must give what the window always got,
// and the window must get it through that process.
#include <filesystem>
#include <variant>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "window_rules/window_rules.h"
#include "picture_loader.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_raster.h"
#include "support/pictures.h"

using namespace tplforge;
using namespace tplforge::testing;

using Outcome = std::variant<WindowRaster, PictureError>;

constexpr ColourValue kBrush = rgb(200, 30, 60);

// A w × h unit metafile whose only drawing is a rectangle (left, top, right,
// bottom) in kBrush, with no outline. A record is its size in 16-bit words (a
// 32-bit count), its function, its parameters.
static QByteArray wmf(int w, int h, QRect r) {
    return littleEndian<std::uint16_t>({
        1, 9, 0x0300, 52, 0, 2, 8, 0, 0,                                    // header: words, objects, largest record
        5, 0, 0x020B, 0, 0, 5, 0, 0x020C, h, w,                             // window origin y, x; extent
        7, 0, 0x02FC, 0, kBrush & 0xFFFF, kBrush >> 16, 0, 4, 0, 0x012D, 0,  // solid brush, selected
        8, 0, 0x02FA, 5, 0, 0, 0, 0, 4, 0, 0x012D, 1,                       // null pen, selected
        7, 0, 0x041B, r.bottom(), r.right(), r.top(), r.left(), 3, 0, 0x0000});  // rectangle (b, r, t, l), end
}
// The placeable header gives 96 units an inch; its last word XORs the others.
static QByteArray placeable(int w, int h, const QByteArray& metafile) {
    const int checksum = 0xCDD7 ^ 0x9AC6 ^ w ^ h ^ 96;
    return littleEndian<std::uint16_t>({0xCDD7, 0x9AC6, 0, 0, 0, w, h, 96, 0, 0, checksum}) + metafile;
}
// The same drawing as an enhanced metafile of w × h pixels at 96 dpi whose
// bounds start at `at`. A record is its type, its size in bytes, its fields.
static QByteArray emf(int w, int h, QRect r, QPoint at = {}) {
    const auto mm = [](int pixels) { return pixels * 2540 / 96; };  // the frame counts 0.01 mm
    const int x = at.x(), y = at.y();
    return littleEndian<std::uint32_t>({
        1, 88, x, y, x + w - 1, y + h - 1, mm(x), mm(y), mm(x + w) - 1, mm(y + h) - 1,  // header: bounds, frame,
        0x464D4520, 0x10000, 208, 7, 3, 0, 0, 0, 1024, 768, 271, 203,    // version, bytes, records, handles, device
        39, 24, 1, 0, kBrush, 0, 37, 12, 1,                               // solid brush, selected
        38, 28, 2, 5, 0, 0, 0, 37, 12, 2,                                 // null pen, selected
        43, 24, r.left(), r.top(), r.right(), r.bottom(), 14, 20, 0, 16, 20});  // rectangle, end of file
}
// 40 × 20 with the rectangle from (10, 5) to (30, 15).
const QRect kInner(QPoint(10, 5), QPoint(30, 15));
const QByteArray kWmf = wmf(40, 20, kInner), kPlaceableWmf = placeable(40, 20, kWmf), kEmf = emf(40, 20, kInner);

// Icons and cursors carry alpha; full channels survive the icon reader's premultiplying.
const QRgb kIconPixels[] = {qRgba(255, 0, 0, 255), qRgba(255, 0, 0, 128), qRgba(0, 0, 255, 0), qRgba(0, 255, 255, 64)};
static QByteArray ico() {
    return encoded(QImage(reinterpret_cast<const uchar*>(kIconPixels), 2, 2, QImage::Format_ARGB32), "ico");
}

class PictureLoaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Null bytes: nothing is written.
    Expected<Image, PictureError> loadImage(const QString& name, const QByteArray& bytes, Backdrop backdrop) {
        const QString path = dir_.filePath(name);
        if (QFile f(path); !bytes.isNull() && (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()))
            qFatal("cannot write %s", qPrintable(name));
        return loadPictureFile(QFile::encodeName(path).toStdString(), backdrop);
    }
    // Over the surface every alpha is 255, so overSurface only repacks the pixels.
    Outcome load(const QString& name, const QByteArray& bytes) {
        const auto result = loadImage(name, bytes, Backdrop::over(0xF0F0F0));
        if (!result) return result.error();
        for (std::size_t i = 3; i < result->rgba.size(); i += 4)
            if (result->rgba[i] != 255) return WindowRaster();
        return window_rules::overSurface(*result);
    }

private slots:
    // Each picture read back exactly (metafiles drawn), each fault named. Grey
    // survives JPEG's colour conversion unchanged, and full channels the icon
    // reader's premultiplying.
    void readsEachFormatOrNamesTheFault() {
        WindowRaster picture(5, 3);  // every pixel different, odd sides so that row padding matters
        for (int i = 0; i < 15; ++i) picture.pixels[i] = rgb(10 + 40 * (i % 5), 20 + 70 * (i / 5), 250 - 8 * i);
        const QByteArray bmp = encoded(imageFromRaster(picture), "bmp"), png = encoded(imageFromRaster(picture), "png");
        const WindowRaster grey(16, 8, rgb(90, 90, 90));
        const QByteArray jpeg = encoded(imageFromRaster(grey), "jpeg", 100);

        WindowRaster mono(9, 2, rgb(0, 0, 128));
        for (std::size_t i = 0; i < mono.pixels.size(); i += 3) mono.pixels[i] = rgb(255, 255, 0);
        const QByteArray monoBmp = encoded(
            imageFromRaster(mono).convertToFormat(QImage::Format_Mono, {qRgb(0, 0, 128), qRgb(255, 255, 0)}), "bmp");
        QCOMPARE(monoBmp.at(28), char(1));  // really one bit a pixel

        WindowRaster gifPixels(3, 2), clearPixels(3, 2), blended(2, 2);
        gifPixels.pixels = {0x140AC8, 0x1EC80A, 0xC81E14, 0x05FAFA, 0x140AC8, 0x1EC80A};
        clearPixels.pixels = {0x140AC8, 0x1EC80A, 0xC81E14, kSurfaceColour, 0x140AC8, 0x1EC80A};

        // What is not fully opaque in an icon ends up over the surface colour.
        const QByteArray ico = ::ico();
        blended.pixels = {rgb(255, 0, 0), blendOver(255, 0, 0, 128), kSurfaceColour, blendOver(0, 255, 255, 64)};

        QVERIFY(QDir(dir_.path()).mkpath("folder.bmp"));
        using enum PictureError;
        // The content decides, not the name; a cursor differs from an icon in its type
        // field; "huge" claims 30000 × 30000 pixels. Null bytes: no file written.
        const std::tuple<const char*, QByteArray, Outcome> cases[] = {
            {"a.bmp", bmp, picture}, {"header-less.dib", bmp.mid(14), picture}, {"a.png", png, picture},
            {"bitmap.gif", bmp, picture}, {"mono.bmp", monoBmp, mono}, {"a.jpg", jpeg, grey}, {"a.ico", ico, blended},
            {"a.cur", asCursor(ico), blended}, {"a.gif", kGif, gifPixels},
            {"clear.gif", kClearGif, clearPixels}, {"missing.bmp", QByteArray(), CannotOpen},
            {"folder.bmp", QByteArray(), CannotOpen}, {"notes.bmp", "just some words\n", NotAPicture},
            {"empty.png", "", NotAPicture}, {"cut.bmp", bmp.chopped(8), Corrupt}, {"head.bmp", bmp.left(20), Corrupt},
            {"no-end.jpg", jpeg.chopped(2), Corrupt}, {"cut.gif", "GIF89a\x05", Corrupt},
            {"cut.png", png.left(png.size() / 2), Corrupt}, {"cut.ico", QByteArray::fromHex("000001000100"), Corrupt},
            {"cut.wmf", kPlaceableWmf.left(30), Corrupt}, {"cut.emf", kEmf.left(88), Corrupt},
            {"huge.bmp", bmp.left(54).replace(18, 8, QByteArray::fromHex("3075000030750000")), TooLarge},
        };
        for (const auto& [name, bytes, expected] : cases) QVERIFY2(load(name, bytes) == expected, name);

        // Metafiles are drawn at the size their header gives, margins kept: what is
        // not painted shows the surface colour. Without a frame the box hugs the drawing.
        for (const auto& [name, bytes] : {std::pair{"a.wmf", kPlaceableWmf}, {"a.emf", kEmf}, {"plain.wmf", kWmf}}) {
            const Outcome outcome = load(name, bytes);
            const WindowRaster* r = std::get_if<WindowRaster>(&outcome);
            QVERIFY2(r && r->at(r->width / 2, r->height / 2) == kBrush, name);
            if (bytes == kWmf) continue;
            QCOMPARE(QSize(r->width, r->height), QSize(40, 20));
            for (QPoint p : {QPoint(36, 17), QPoint(20, 2), QPoint(5, 10), QPoint(35, 10), QPoint(20, 18)})
                QCOMPARE(r->at(p.x(), p.y()), kSurfaceColour);
        }
    }

    // A metafile comes out at its frame's size (the inclusive bounds of an
    // enhanced one), drawn one unit a pixel: a rectangle over the whole frame
    // paints its four corners and nothing is clear. So it reaches the window,
    // over the surface, and the command line, alpha kept, through the reader.
    void metafilesKeepTheirFrameSize() {
        const auto corners = [](std::uint32_t w, std::uint32_t h, auto colourAt) {
            QString seen = QString("%1x%2").arg(w).arg(h);
            for (const auto& [x, y] : {std::pair{0u, 0u}, {w - 1, 0u}, {0u, h - 1}, {w - 1, h - 1}})
                seen += colourAt(x, y) == kBrush ? " +" : QString(" %1").arg(colourAt(x, y), 6, 16);
            return seen;
        };
        const auto ofImage = [&](const auto& image) {
            if (!image) return QString("refused");
            return corners(image->width, image->height, [&](std::uint32_t x, std::uint32_t y) {
                const std::uint8_t* p = &image->rgba[4 * (std::size_t(y) * image->width + x)];
                return p[3] == 255 ? rgb(p[0], p[1], p[2]) : ColourValue(0xFFFFFFFF);
            });
        };
        QtPlatform window;
        const PictureReader reader{TPLFORGE_PICTURE_READER_PATH, std::chrono::seconds(20)};
        window.setPictureReader(reader);
        const std::tuple<int, int, QPoint> rows[] = {
            {64, 32, {}}, {40, 20, {}}, {32, 64, {}}, {3, 5, {}}, {130, 97, {}}, {1, 1, {}}, {1, 7, {}}, {64, 32, {10, 5}}};
        for (const auto& [w, h, at] : rows) {
            const QRect whole(at, QSize(w, h));
            // Both kinds end their rectangle one past the last pixel it fills.
            const QByteArray emfBytes = emf(w, h, whole.adjusted(0, 0, 1, 1), at);
            const QByteArray wmfBytes = placeable(w, h, wmf(w, h, QRect(0, 0, w + 1, h + 1)));
            const QString expected = QString("%1x%2 + + + +").arg(w).arg(h);
            for (const auto& [kind, bytes] : {std::pair{"emf", emfBytes}, {"wmf", wmfBytes}}) {
                const QString name = QString("%1x%2+%3+%4.%5").arg(w).arg(h).arg(at.x()).arg(at.y()).arg(kind);
                const QString path = dir_.filePath(name);
                QStringList seen{ofImage(loadImage(name, bytes, Backdrop::over(0xF0F0F0))),
                                 ofImage(loadImage(name, bytes, Backdrop::keepAlpha())),
                                 ofImage(readPictureInProcess(QFile::encodeName(path).toStdString(), Backdrop::keepAlpha(), reader))};
                const auto shown = window.loadPicture(QFile::encodeName(path).toStdString());
                seen << (shown ? corners(shown->width, shown->height, [&](std::uint32_t x, std::uint32_t y) { return shown->at(int(x), int(y)); })
                               : QString("refused"));
                QCOMPARE(seen.join(" | ") + " " + name, QStringList(4, expected).join(" | ") + " " + name);
            }
        }
    }

    // With its alpha kept a picture's clear parts stay clear and the rest keeps
    // its colour; drawn over the surface it is then what the window gets.
    // Each row: pixels as x, y and 0xRRGGBBAA (only the alpha of a clear one counts).
    void keepsAlphaWhenAsked() {
        using Pixels = std::vector<std::tuple<int, int, std::uint32_t>>;
        const std::tuple<const char*, QByteArray, Pixels> rows[] = {
            {"k.ico", ico(), {{0, 0, 0xFF0000FF}, {1, 0, 0xFF000080}, {0, 1, 0}, {1, 1, 0x00FFFF40}}},
            {"k.cur", asCursor(ico()), {{1, 0, 0xFF000080}, {0, 1, 0}}},
            {"k.gif", kClearGif, {{0, 0, 0xC80A14FF}, {0, 1, 0}, {2, 1, 0x0AC81EFF}}},
            {"k.wmf", kPlaceableWmf, {{20, 10, 0xC81E3CFF}, {2, 2, 0}, {36, 17, 0}}},
            {"k.emf", kEmf, {{20, 10, 0xC81E3CFF}, {2, 2, 0}, {36, 17, 0}}},
        };
        for (const auto& [name, bytes, pixels] : rows) {
            const auto kept = loadImage(name, bytes, Backdrop::keepAlpha());
            const auto surface = loadImage(name, bytes, Backdrop::over(0xF0F0F0));
            QVERIFY2(kept && surface, name);
            for (const auto& [x, y, expected] : pixels) {
                const std::uint8_t* p = &kept->rgba[4 * (std::size_t(y) * kept->width + x)];
                const std::uint32_t seen = (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
                const QString where = QString("%1 %2,%3 %4").arg(name).arg(x).arg(y).arg(seen, 8, 16);
                QVERIFY2(expected & 0xFF ? seen == expected : p[3] == 0, qPrintable(where));
            }
            // Edges a metafile draws half-covered lose a bit on the way to straight alpha.
            const WindowRaster over = window_rules::overSurface(*kept), expected = window_rules::overSurface(*surface);
            QVERIFY2(over.width == expected.width && over.height == expected.height, name);
            for (std::size_t i = 0; i < over.pixels.size(); ++i)
                for (int shift : {0, 8, 16}) {
                    const int a = over.pixels[i] >> shift & 0xFF, b = expected.pixels[i] >> shift & 0xFF;
                    QVERIFY2(qAbs(a - b) <= 1, name);
                }
        }
    }

    // The window reads through the reader process now: every seed picture of the
    // fuzz corpus must reach it as the loader draws it over the surface, or be
    // refused alike.
    void windowGetsWhatTheLoaderDrew() {
        QtPlatform platform;
        platform.setPictureReader({TPLFORGE_PICTURE_READER_PATH, std::chrono::seconds(20)});
        int compared = 0;
        for (const char* kind : {"picture", "png"})
            for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(CORPUS_DIR) / kind)) {
                if (!entry.path().filename().string().starts_with("seed-")) continue;
                const auto before = loadPictureFile(entry.path().string(), Backdrop::over(0xF0F0F0));
                const auto now = platform.loadPicture(entry.path().string());
                QVERIFY2(now.ok() ? before.ok() && window_rules::overSurface(*before) == *now
                                  : !before.ok() && before.error() == now.error(),
                         entry.path().c_str());
                ++compared;
            }
        QVERIFY(compared > 30);
    }
};

QTEST_MAIN(PictureLoaderTest)
#include "test_picture_loader.moc"
