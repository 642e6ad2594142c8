// The picture loader against small files made here: Qt's writers where Qt has
// one, byte-by-byte builders for GIF, multi-image icons and both metafile kinds.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <vector>

#include "common/bytes.h"
#include "common/raster.h"
#include "platform/qt/picture_loader.h"

using namespace tplforge;

Q_DECLARE_METATYPE(tplforge::Raster)
Q_DECLARE_METATYPE(tplforge::PictureError)

namespace {

QByteArray toQByteArray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// Every pixel different, odd sides so that row padding matters.
Raster pattern(int width = 5, int height = 3) {
    Raster r(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) r.at(x, y) = rgb(10 + 40 * x, 20 + 70 * y, 250 - 30 * x - 20 * y);
    return r;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) qFatal("cannot encode %s: %s", format, qPrintable(writer.errorString()));
    return bytes;
}

// GIF with a 256-entry palette and at most 250 pixels: after the clear code
// every pixel is a plain 9-bit literal, before the codes would widen.
QByteArray makeGif(int width, int height, const std::vector<ColourValue>& palette,
                   const std::vector<std::uint8_t>& indices, int transparentIndex = -1) {
    ByteWriter out;
    for (char c : std::string("GIF89a")) out.u8(static_cast<std::uint8_t>(c));
    out.u16le(static_cast<std::uint16_t>(width));
    out.u16le(static_cast<std::uint16_t>(height));
    out.u8(0xF7);  // global table of 256 entries
    out.u8(0);
    out.u8(0);
    for (int i = 0; i < 256; ++i) {
        const ColourValue c = i < int(palette.size()) ? palette[i] : kBlack;
        out.u8(static_cast<std::uint8_t>(redOf(c)));
        out.u8(static_cast<std::uint8_t>(greenOf(c)));
        out.u8(static_cast<std::uint8_t>(blueOf(c)));
    }
    if (transparentIndex >= 0) {
        const std::uint8_t ext[] = {0x21, 0xF9, 4, 1, 0, 0, static_cast<std::uint8_t>(transparentIndex), 0};
        out.append(ext);
    }
    out.u8(0x2C);
    out.u16le(0);
    out.u16le(0);
    out.u16le(static_cast<std::uint16_t>(width));
    out.u16le(static_cast<std::uint16_t>(height));
    out.u8(0);
    out.u8(8);  // minimum code size

    std::vector<std::uint8_t> stream;
    std::uint32_t bits = 0;
    int bitCount = 0;
    auto putCode = [&](std::uint32_t code) {
        bits |= code << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            stream.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    putCode(256);
    for (std::uint8_t index : indices) putCode(index);
    putCode(257);
    if (bitCount > 0) stream.push_back(static_cast<std::uint8_t>(bits));
    for (std::size_t at = 0; at < stream.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, stream.size() - at);
        out.u8(static_cast<std::uint8_t>(n));
        out.append(std::span(stream).subspan(at, n));
    }
    out.u8(0);
    out.u8(0x3B);
    return toQByteArray(out.take());
}

// One uniformly coloured, fully opaque image of an icon: info header with the
// doubled height, colour rows bottom-up, then an all-clear AND mask.
struct IconEntry {
    int side;
    int bitCount;  // 24 or 32
    ColourValue colour;
};

QByteArray makeIcon(const std::vector<IconEntry>& entries, std::uint16_t type = 1) {
    std::vector<std::vector<std::uint8_t>> images;
    for (const IconEntry& e : entries) {
        ByteWriter img;
        img.u32le(40);
        img.u32le(static_cast<std::uint32_t>(e.side));
        img.u32le(static_cast<std::uint32_t>(2 * e.side));
        img.u16le(1);
        img.u16le(static_cast<std::uint16_t>(e.bitCount));
        img.zeros(24);
        const int bytesPerPixel = e.bitCount / 8;
        const int stride = (e.side * bytesPerPixel + 3) / 4 * 4;
        for (int y = 0; y < e.side; ++y) {
            for (int x = 0; x < e.side; ++x) {
                img.u8(static_cast<std::uint8_t>(blueOf(e.colour)));
                img.u8(static_cast<std::uint8_t>(greenOf(e.colour)));
                img.u8(static_cast<std::uint8_t>(redOf(e.colour)));
                if (bytesPerPixel == 4) img.u8(255);
            }
            img.zeros(static_cast<std::size_t>(stride - e.side * bytesPerPixel));
        }
        img.zeros(static_cast<std::size_t>((e.side + 31) / 32 * 4 * e.side));
        images.push_back(img.take());
    }
    ByteWriter out;
    out.u16le(0);
    out.u16le(type);
    out.u16le(static_cast<std::uint16_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out.u8(static_cast<std::uint8_t>(entries[i].side & 0xFF));
        out.u8(static_cast<std::uint8_t>(entries[i].side & 0xFF));
        out.u8(0);
        out.u8(0);
        out.u16le(1);
        out.u16le(static_cast<std::uint16_t>(entries[i].bitCount));
        out.u32le(static_cast<std::uint32_t>(images[i].size()));
        out.u32le(offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& img : images) out.append(img);
    return toQByteArray(out.take());
}

constexpr ColourValue kBrush = rgb(200, 30, 60);

// A 40 × 20 unit metafile (96 units an inch when placeable) whose only drawing
// is a rectangle from (10, 5) to (30, 15), filled with kBrush and no outline.
QByteArray makeWmf(bool placeable) {
    struct Record {
        std::uint16_t function;
        std::vector<std::uint16_t> params;
    };
    const std::uint16_t lo = kBrush & 0xFFFF;
    const std::uint16_t hi = static_cast<std::uint16_t>(kBrush >> 16);
    const std::vector<Record> records{
        {0x020B, {0, 0}},           // window origin y, x
        {0x020C, {20, 40}},         // window extent height, width
        {0x02FC, {0, lo, hi, 0}},   // solid brush
        {0x012D, {0}},              // select it
        {0x02FA, {5, 0, 0, 0, 0}},  // null pen
        {0x012D, {1}},              // select it
        {0x041B, {15, 30, 5, 10}},  // rectangle bottom, right, top, left
        {0x0000, {}},               // end of file
    };
    std::uint32_t words = 9;
    std::uint32_t largest = 0;
    for (const Record& r : records) {
        const auto size = static_cast<std::uint32_t>(3 + r.params.size());
        words += size;
        largest = std::max(largest, size);
    }
    ByteWriter out;
    if (placeable) {
        const std::uint16_t head[] = {0xCDD7, 0x9AC6, 0, 0, 0, 40, 20, 96, 0, 0};
        std::uint16_t checksum = 0;
        for (std::uint16_t w : head) {
            out.u16le(w);
            checksum ^= w;
        }
        out.u16le(checksum);
    }
    out.u16le(1);
    out.u16le(9);
    out.u16le(0x0300);
    out.u32le(words);
    out.u16le(2);
    out.u32le(largest);
    out.u16le(0);
    for (const Record& r : records) {
        out.u32le(static_cast<std::uint32_t>(3 + r.params.size()));
        out.u16le(r.function);
        for (std::uint16_t p : r.params) out.u16le(p);
    }
    return toQByteArray(out.take());
}

// The same drawing as an enhanced metafile: 40 × 20 pixels at 96 dpi.
QByteArray makeEmf() {
    ByteWriter body;
    auto record = [&](std::uint32_t type, std::vector<std::uint32_t> fields) {
        body.u32le(type);
        body.u32le(static_cast<std::uint32_t>(8 + 4 * fields.size()));
        for (std::uint32_t f : fields) body.u32le(f);
    };
    record(39, {1, 0, kBrush, 0});     // solid brush as object 1
    record(37, {1});                   // select it
    record(38, {2, 5, 0, 0, 0});       // null pen as object 2
    record(37, {2});                   // select it
    record(43, {10, 5, 30, 15});       // rectangle
    record(14, {0, 16, 20});           // end of file
    const std::vector<std::uint8_t> records = body.take();

    ByteWriter out;
    out.u32le(1);
    out.u32le(88);
    for (std::uint32_t v : {0u, 0u, 39u, 19u}) out.u32le(v);      // bounds, pixels
    for (std::uint32_t v : {0u, 0u, 1058u, 529u}) out.u32le(v);   // frame, 0.01 mm
    out.u32le(0x464D4520);
    out.u32le(0x10000);
    out.u32le(static_cast<std::uint32_t>(88 + records.size()));
    out.u32le(7);
    out.u16le(3);
    out.u16le(0);
    out.u32le(0);
    out.u32le(0);
    out.u32le(0);
    for (std::uint32_t v : {1024u, 768u, 271u, 203u}) out.u32le(v);  // device pixels, millimetres
    out.append(records);
    return toQByteArray(out.take());
}

bool closeTo(ColourValue a, ColourValue b, int tolerance) {
    return qAbs(int(redOf(a)) - int(redOf(b))) <= tolerance && qAbs(int(greenOf(a)) - int(greenOf(b))) <= tolerance &&
           qAbs(int(blueOf(a)) - int(blueOf(b))) <= tolerance;
}

}  // namespace

class PictureLoaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static Expected<Raster, PictureError> load(const QString& path) {
        return loadPictureFile(QFile::encodeName(path).toStdString());
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void readsLosslessFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Raster>("expected");

        const Raster picture = pattern();
        const QImage image = imageFromRaster(picture);
        const QByteArray bmp = encoded(image, "bmp");
        QTest::newRow("24-bit bitmap") << "a.bmp" << bmp << picture;
        QTest::newRow("bitmap named .dib") << "a.dib" << bmp << picture;
        QTest::newRow("bitmap named .gif") << "bitmap.gif" << bmp << picture;
        QTest::newRow("header-less bitmap") << "packed.dib" << bmp.mid(14) << picture;
        QTest::newRow("png") << "a.png" << encoded(image, "png") << picture;

        QImage mono(9, 2, QImage::Format_Mono);
        mono.fill(0);
        mono.setColorTable({qRgb(0, 0, 128), qRgb(255, 255, 0)});
        Raster monoRaster(9, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 9; ++x) {
                const int bit = (x + y) % 3 == 0 ? 1 : 0;
                mono.setPixel(x, y, static_cast<uint>(bit));
                monoRaster.at(x, y) = bit ? rgb(255, 255, 0) : rgb(0, 0, 128);
            }
        const QByteArray monoBmp = encoded(mono, "bmp");
        QCOMPARE(monoBmp.at(28), char(1));  // really a 1-bit file
        QTest::newRow("1-bit bitmap") << "mono.bmp" << monoBmp << monoRaster;

        std::vector<ColourValue> palette;
        std::vector<std::uint8_t> indices;
        for (int i = 0; i < picture.width * picture.height; ++i) {
            palette.push_back(picture.pixels[i]);
            indices.push_back(static_cast<std::uint8_t>(i));
        }
        QTest::newRow("gif") << "a.gif" << makeGif(picture.width, picture.height, palette, indices) << picture;

        Raster clear = picture;
        clear.at(2, 1) = kSurfaceColour;
        QTest::newRow("gif, transparent index") << "clear.gif"
                                                << makeGif(picture.width, picture.height, palette, indices, 7)
                                                << clear;
    }
    void readsLosslessFiles() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(Raster, expected);
        const auto result = load(write(name, bytes));
        QVERIFY2(result.ok(), qPrintable(QString::number(int(result.ok() ? PictureError{} : result.error()))));
        QCOMPARE(result->width, expected.width);
        QCOMPARE(result->height, expected.height);
        QVERIFY(*result == expected);
    }

    void readsJpegApproximately() {
        QImage image(16, 8, QImage::Format_RGB32);
        image.fill(qRgb(30, 160, 90));
        QImageWriter writer;
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        writer.setDevice(&buffer);
        writer.setFormat("jpeg");
        writer.setQuality(100);
        QVERIFY(writer.write(image));
        const auto result = load(write("a.jpg", bytes));
        QVERIFY(result.ok());
        QCOMPARE(result->width, 16);
        QCOMPARE(result->height, 8);
        for (ColourValue c : result->pixels) QVERIFY(closeTo(c, rgb(30, 160, 90), 4));
    }

    // Icons and cursors arrive in their own pixel format with an alpha channel;
    // what is not fully opaque must end up over the surface colour, exactly.
    void blendsIconAlphaOverSurface_data() {
        QTest::addColumn<bool>("cursor");
        QTest::newRow("icon") << false;
        QTest::newRow("cursor") << true;
    }
    void blendsIconAlphaOverSurface() {
        QFETCH(bool, cursor);
        QImage image(4, 2, QImage::Format_ARGB32);
        const QRgb source[] = {qRgba(255, 0, 0, 255), qRgba(255, 0, 0, 128), qRgba(0, 0, 255, 0),
                               qRgba(10, 200, 30, 64), qRgba(0, 0, 0, 255), qRgba(255, 255, 255, 1),
                               qRgba(90, 90, 90, 200), qRgba(1, 2, 3, 254)};
        for (int i = 0; i < 8; ++i) image.setPixel(i % 4, i / 4, source[i]);
        QByteArray bytes = encoded(image, "ico");
        QCOMPARE(bytes.at(2), char(1));
        if (cursor) bytes[2] = 2;

        const auto result = load(write(cursor ? "a.cur" : "a.ico", bytes));
        QVERIFY(result.ok());
        QCOMPARE(result->width, 4);
        QCOMPARE(result->height, 2);
        // Qt's icon reader premultiplies, which costs at most one step of
        // rounding on partly covered pixels; opaque and clear ones are exact.
        for (int i = 0; i < 8; ++i) {
            const QRgb p = source[i];
            const ColourValue got = result->at(i % 4, i / 4);
            const ColourValue want = blendOver(qRed(p), qGreen(p), qBlue(p), qAlpha(p));
            if (qAlpha(p) == 0 || qAlpha(p) == 255)
                QCOMPARE(got, want);
            else
                QVERIFY2(closeTo(got, want, 1), qPrintable(QStringLiteral("pixel %1: %2 vs %3").arg(i).arg(got).arg(want)));
        }
        QCOMPARE(result->at(2, 0), kSurfaceColour);
    }

    void picksLargestThenDeepestIconImage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("side");
        QTest::addColumn<ColourValue>("colour");
        const ColourValue red = rgb(255, 0, 0), green = rgb(0, 255, 0), blue = rgb(0, 0, 255);
        QTest::newRow("small first") << makeIcon({{16, 32, red}, {32, 24, blue}}) << 32 << blue;
        QTest::newRow("large first") << makeIcon({{32, 24, blue}, {16, 32, red}}) << 32 << blue;
        QTest::newRow("same size, deeper second") << makeIcon({{16, 24, red}, {16, 32, green}}) << 16 << green;
        QTest::newRow("same size, deeper first") << makeIcon({{16, 32, green}, {16, 24, red}}) << 16 << green;
        QTest::newRow("three, cursor") << makeIcon({{16, 32, red}, {48, 24, blue}, {32, 32, green}}, 2) << 48 << blue;
    }
    void picksLargestThenDeepestIconImage() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, side);
        QFETCH(ColourValue, colour);
        const auto result = load(write("multi.ico", bytes));
        QVERIFY(result.ok());
        QCOMPARE(result->width, side);
        QCOMPARE(result->height, side);
        QCOMPARE(result->at(side / 2, side / 2), colour);
    }

    void rendersMetafiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("placeable wmf") << "a.wmf" << makeWmf(true);
        QTest::newRow("emf") << "a.emf" << makeEmf();
    }
    void rendersMetafiles() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const auto result = load(write(name, bytes));
        QVERIFY(result.ok());
        QVERIFY2(qAbs(result->width - 40) <= 1 && qAbs(result->height - 20) <= 1,
                 qPrintable(QStringLiteral("%1 x %2").arg(result->width).arg(result->height)));
        QCOMPARE(result->at(20, 10), kBrush);
        QCOMPARE(result->at(12, 7), kBrush);
        // The frame's margins are kept, and what is not painted shows the
        // surface colour.
        for (QPoint p : {QPoint(3, 3), QPoint(36, 17), QPoint(20, 2), QPoint(5, 10), QPoint(35, 10), QPoint(20, 18)})
            QCOMPARE(result->at(p.x(), p.y()), kSurfaceColour);
    }

    void rendersStandardWmf() {
        const auto result = load(write("plain.wmf", makeWmf(false)));
        QVERIFY(result.ok());
        QVERIFY(result->width > 0 && result->height > 0);
        QCOMPARE(result->at(result->width / 2, result->height / 2), kBrush);
    }

    void reportsFailures_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // null: do not create
        QTest::addColumn<PictureError>("error");

        const QImage image = imageFromRaster(pattern(64, 48));
        const QByteArray bmp = encoded(image, "bmp");
        const QByteArray png = encoded(image, "png");
        QImage noisy(64, 48, QImage::Format_RGB32);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) noisy.setPixel(x, y, qRgb((x * 37) & 255, (y * 91) & 255, (x * y) & 255));
        const QByteArray jpeg = encoded(noisy, "jpeg");

        QTest::newRow("missing") << "missing.bmp" << QByteArray() << PictureError::CannotOpen;
        QTest::newRow("empty") << "empty.bmp" << QByteArray("") << PictureError::NotAPicture;
        QTest::newRow("text") << "notes.bmp" << QByteArray("just some words\n") << PictureError::NotAPicture;
        QTest::newRow("tga") << "a.gif" << QByteArray::fromHex("000002000000000000000000020001001800ffffff")
                             << PictureError::NotAPicture;
        QTest::newRow("bitmap cut short") << "cut.bmp" << bmp.left(bmp.size() / 2) << PictureError::Corrupt;
        QTest::newRow("bitmap header only") << "head.bmp" << bmp.left(20) << PictureError::Corrupt;
        QTest::newRow("jpeg cut short") << "cut.jpg" << jpeg.left(jpeg.size() * 2 / 3) << PictureError::Corrupt;
        QTest::newRow("jpeg without end marker") << "noend.jpg" << jpeg.left(jpeg.size() - 2) << PictureError::Corrupt;
        QTest::newRow("png cut short") << "cut.png" << png.left(png.size() / 2) << PictureError::Corrupt;
        QTest::newRow("gif signature only") << "cut.gif" << QByteArray("GIF89a\x05") << PictureError::Corrupt;
        QTest::newRow("icon directory only") << "cut.ico" << QByteArray::fromHex("000001000100") << PictureError::Corrupt;
        QTest::newRow("wmf header only") << "cut.wmf" << makeWmf(true).left(30) << PictureError::Corrupt;
        QTest::newRow("emf header only") << "cut.emf" << makeEmf().left(88) << PictureError::Corrupt;

        // A bitmap that claims 30000 × 30000 pixels: past Qt's allocation limit.
        QByteArray huge = bmp.left(54);
        ByteWriter size;
        size.u32le(30000);
        size.u32le(30000);
        huge.replace(18, 8, toQByteArray(size.take()));
        QTest::newRow("bitmap too large") << "huge.bmp" << huge << PictureError::TooLarge;
    }
    void reportsFailures() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(PictureError, error);
        const QString path = bytes.isNull() ? dir_.filePath(name) : write(name, bytes);
        const auto result = load(path);
        QVERIFY(!result.ok());
        QCOMPARE(int(result.error()), int(error));
    }

    void folderCannotBeOpened() {
        QVERIFY(QDir(dir_.path()).mkpath("folder.bmp"));
        const auto result = load(dir_.filePath("folder.bmp"));
        QVERIFY(!result.ok());
        QCOMPARE(int(result.error()), int(PictureError::CannotOpen));
    }

    void convertsBetweenRasterAndImage() {
        const Raster picture = pattern(7, 4);
        const QImage image = imageFromRaster(picture);
        QCOMPARE(image.format(), QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(7, 4));
        QCOMPARE(image.pixel(6, 3), qRgb(redOf(picture.at(6, 3)), greenOf(picture.at(6, 3)), blueOf(picture.at(6, 3))));
        QVERIFY(rasterFromImage(image) == picture);
        QVERIFY(rasterFromImage(image.convertToFormat(QImage::Format_RGB888)) == picture);

        QImage premultiplied(2, 1, QImage::Format_ARGB32_Premultiplied);
        premultiplied.fill(Qt::transparent);
        premultiplied.setPixel(1, 0, qRgba(0, 0, 255, 255));
        const Raster blended = rasterFromImage(premultiplied);
        QCOMPARE(blended.at(0, 0), kSurfaceColour);
        QCOMPARE(blended.at(1, 0), rgb(0, 0, 255));

        QVERIFY(imageFromRaster(Raster()).isNull());
        QVERIFY(rasterFromImage(QImage()).pixels.empty());
    }
};

QTEST_GUILESS_MAIN(PictureLoaderTest)
#include "test_picture_loader.moc"
