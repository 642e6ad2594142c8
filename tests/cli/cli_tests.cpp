// Runs the built tplforge-cli on files made in a temporary folder and checks its
// files, messages and exit statuses.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <bit>
#include <vector>

#include "common/raster.h"
#include "imageio/bmp.h"
#include "platform/qt/picture_loader.h"
#include "tpl/tpl_file.h"

using namespace tplforge;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// Colours that differ in every channel, plus pure red, green and blue where the
// alpha colour tests need them.
Raster patternRaster(int w, int h, int seed) {
    Raster r(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.at(x, y) = rgb((37 * x + 11 * seed) & 0xFF, (53 * y + 7 * seed) & 0xFF, (19 * (x + y) + seed) & 0xFF);
    r.at(0, 0) = rgb(255, 0, 0);
    r.at(1, 0) = rgb(0, 0, 255);
    r.at(2, 0) = rgb(0, 255, 0);
    r.at(3, 0) = kWhite;
    return r;
}

QImage toImage(const Raster& r) {
    QImage image(r.width, r.height, QImage::Format_RGB32);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const ColourValue c = r.at(x, y);
            image.setPixel(x, y, qRgb(int(redOf(c)), int(greenOf(c)), int(blueOf(c))));
        }
    return image;
}

Raster fromImage(const QImage& image) {
    Raster r(image.width(), image.height());
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const QRgb p = image.pixel(x, y);
            r.at(x, y) = rgb(qRed(p), qGreen(p), qBlue(p));
        }
    return r;
}

// Uncompressed 24-bit Targa, bottom row first.
QByteArray targaBytes(const Raster& r) {
    QByteArray b(18, '\0');
    b[2] = 2;
    b[12] = char(r.width & 0xFF);
    b[13] = char(r.width >> 8);
    b[14] = char(r.height & 0xFF);
    b[15] = char(r.height >> 8);
    b[16] = 24;
    for (int y = r.height - 1; y >= 0; --y)
        for (int x = 0; x < r.width; ++x) {
            const ColourValue c = r.at(x, y);
            b.append(char(blueOf(c))).append(char(greenOf(c))).append(char(redOf(c)));
        }
    return b;
}

QByteArray toBytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

QByteArray tplOf(const std::vector<TextureInput>& inputs) {
    auto file = buildTpl(inputs);
    if (!file) qFatal("buildTpl refused the test's textures");
    return toBytes(*file);
}

void putU32be(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (24 - 8 * i)) & 0xFF);
}

// Offset of image header k (from 0) in a file the writer made.
qsizetype headerAt(int count, int k) { return 12 + 8 * count + 36 * k; }

void appendU32le(QByteArray& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray emfRecord(std::uint32_t type, std::initializer_list<std::uint32_t> words, const QByteArray& tail = {}) {
    QByteArray body;
    for (std::uint32_t w : words) appendU32le(body, w);
    body += tail;
    QByteArray r;
    appendU32le(r, type);
    appendU32le(r, std::uint32_t(8 + body.size()));
    return r + body;
}

// A 64 x 32 enhanced metafile that writes "Hi" in red: header, font, text colour,
// text, end of file.
QByteArray emfWithText() {
    QByteArray faceName(64, '\0');
    const QByteArray face = QStringLiteral("DejaVu Sans").toUtf8();
    for (qsizetype i = 0; i < face.size(); ++i) faceName[2 * i] = face[i];
    QByteArray logFont;
    for (std::uint32_t w : {std::uint32_t(-20), 0u, 0u, 0u, 400u, 0u, 0u}) appendU32le(logFont, w);  // last 8 bytes
    logFont += faceName;
    QByteArray text;
    for (char c : {'H', 'i'}) text.append(c).append('\0');
    appendU32le(text, 12);
    appendU32le(text, 12);

    const QByteArray records =
        emfRecord(82, {1}, logFont) + emfRecord(37, {1}) + emfRecord(24, {0x0000FF}) +
        emfRecord(84, {0, 0, 64, 32, 1, 0x3F800000, 0x3F800000, 4, 4, 2, 76, 0, 0, 0, 0, 0, 80}, text) +
        emfRecord(14, {0, 16, 20});
    const auto header = [&](std::uint32_t total, std::uint32_t count) {
        return emfRecord(1, {0, 0, 64, 32, 0, 0, 1700, 850, 0x464D4520, 0x10000, total, count, 2, 0, 0, 0, 1024, 768,
                             320, 240});
    };
    const qsizetype headerSize = header(0, 0).size();
    return header(std::uint32_t(headerSize + records.size()), 6) + records;
}

// What the core's reader makes of each texture, in file order; the tool must
// write exactly these pixels.
std::vector<Raster> decodedRasters(const QByteArray& bytes) {
    const std::span<const std::uint8_t> file(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                             std::size_t(bytes.size()));
    std::vector<Raster> out;
    auto info = parseTpl(file);
    if (!info) qFatal("parseTpl refused the test's file");
    for (const TplImage& image : info->images) {
        auto texture = decodeTexture(file, image);
        out.push_back(texture ? texture->raster : Raster());
    }
    return out;
}

}  // namespace

class CliTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writePicture(const QString& name, const Raster& r) const {
        if (name.endsWith(".tga", Qt::CaseInsensitive))
            write(name, targaBytes(r));
        else
            QVERIFY(toImage(r).save(path(name)));
    }

    Run run(const QStringList& args) const {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(TPLFORGE_CLI_PATH), args);
        Run result;
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) return result;
        result.status = p.exitCode();
        result.out = QString::fromUtf8(p.readAllStandardOutput());
        result.err = QString::fromUtf8(p.readAllStandardError());
        return result;
    }

private slots:
    void init() { QVERIFY(dir_.isValid()); }
    void cleanup() {
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path());
    }

    // Six inputs of every kind the tool reads, more than the window's five slots.
    void encodeEqualsBuildTpl() {
        const QStringList names = {"a.png", "b.bmp", "c.tga", "d.TGA", "e.png", "f.Tga"};
        std::vector<Raster> rasters;
        for (int i = 0; i < names.size(); ++i) {
            rasters.push_back(patternRaster(4 * (i + 1), 4 * (3 - i % 3), i));
            writePicture(names[i], rasters.back());
        }
        const Run r = run(QStringList{"encode"} << names << "-o" << "out.tpl");
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));

        std::vector<TextureInput> inputs;
        for (const Raster& raster : rasters) inputs.push_back({&raster, TextureFormat::RGB565, kWhite});
        QCOMPARE(read("out.tpl"), tplOf(inputs));
    }

    // The loader draws these with Qt's painter and fonts, which abort the program
    // unless it made a QGuiApplication.
    void encodeEnhancedMetafileWithText() {
        write("text.emf", emfWithText());
        const Run r = run({"encode", "-f", "rgb5a3", "-a", "f0f0f0", "text.emf", "-o", "emf.tpl"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));

        auto raster = loadPictureFile(path("text.emf").toStdString());
        QVERIFY(raster);
        QCOMPARE(raster->width, 64);
        QVERIFY(std::count(raster->pixels.begin(), raster->pixels.end(), rgb(255, 0, 0)) > 0);
        QCOMPARE(read("emf.tpl"), tplOf({{&*raster, TextureFormat::RGB5A3, kSurfaceColour}}));
    }

    void formatAndAlphaApplyToFollowingImages_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<int>>("formats");         // 4 or 5 per image
        QTest::addColumn<QList<unsigned>>("alphas");     // colour value per image
        const auto fmt = [](std::initializer_list<int> v) { return QList<int>(v); };
        const auto col = [](std::initializer_list<unsigned> v) { return QList<unsigned>(v); };
        const unsigned red = rgb(255, 0, 0), blue = rgb(0, 0, 255), green = rgb(0, 255, 0), white = kWhite;

        QTest::newRow("defaults") << QStringList{"p0.png", "p1.png", "p2.png"} << fmt({4, 4, 4})
                                  << col({white, white, white});
        QTest::newRow("format from the middle on")
            << QStringList{"p0.png", "-f", "rgb5a3", "p1.png", "p2.png"} << fmt({4, 5, 5}) << col({white, white, white});
        QTest::newRow("alpha is red-green-blue")
            << QStringList{"-f", "rgb5a3", "-a", "ff0000", "p0.png", "-a", "0000ff", "p1.png", "-a", "00FF00", "p2.png"}
            << fmt({5, 5, 5}) << col({red, blue, green});
        QTest::newRow("alpha survives a switch to rgb565 and back")
            << QStringList{"-a", "0000ff", "-f", "rgb5a3", "p0.png", "-f", "rgb565", "p1.png", "-f", "RGB5A3", "p2.png"}
            << fmt({5, 4, 5}) << col({blue, blue, blue});
        QTest::newRow("long and joined forms")
            << QStringList{"--format=rgb5a3", "p0.png", "--alpha", "ff0000", "p1.png", "-frgb565", "p2.png"}
            << fmt({5, 5, 4}) << col({white, red, red});
    }
    void formatAndAlphaApplyToFollowingImages() {
        QFETCH(QStringList, args);
        QFETCH(QList<int>, formats);
        QFETCH(QList<unsigned>, alphas);
        std::vector<Raster> rasters;
        for (int i = 0; i < 3; ++i) {
            rasters.push_back(patternRaster(8, 4, i));
            writePicture(QString("p%1.png").arg(i), rasters.back());
        }
        const Run r = run(QStringList{"encode"} << args << "-o" << "out.tpl");
        QCOMPARE(r.status, 0);

        std::vector<TextureInput> inputs;
        for (int i = 0; i < 3; ++i)
            inputs.push_back({&rasters[std::size_t(i)], static_cast<TextureFormat>(formats[i]), alphas[i]});
        QCOMPARE(read("out.tpl"), tplOf(inputs));
    }

    void refusesSideNotMultipleOf4AndKeepsOutput() {
        writePicture("good.png", patternRaster(4, 4, 1));
        writePicture("odd.png", patternRaster(6, 4, 2));
        write("out.tpl", "previous contents");
        const Run r = run({"encode", "good.png", "odd.png", "-o", "out.tpl"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("odd.png") && r.err.contains("6 x 4"), qPrintable(r.err));
        QVERIFY2(!r.err.contains("good.png"), qPrintable(r.err));
        QCOMPARE(read("out.tpl"), QByteArray("previous contents"));
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files).size(), 3);

        QCOMPARE(run({"encode", "odd.png", "-o", "new.tpl"}).status, 1);
        QVERIFY(!QFile::exists(path("new.tpl")));
    }

    void decodeWritesNamedPictures_data() {
        QTest::addColumn<QList<int>>("formats");
        QTest::addColumn<QString>("folder");  // empty: no -o, the current folder
        QTest::addColumn<bool>("bmp");
        QTest::addColumn<QStringList>("expectedNames");
        QTest::newRow("one RGB565, png") << QList<int>{4} << "pictures/out" << false << QStringList{"tex.png"};
        QTest::newRow("one RGB5A3, bmp, here") << QList<int>{5} << "" << true << QStringList{"tex.bmp"};
        QTest::newRow("three, png, here") << QList<int>{4, 5, 4} << "" << false
                                          << QStringList{"tex.1.png", "tex.2.png", "tex.3.png"};
        QTest::newRow("two, bmp") << QList<int>{5, 4} << "pictures/out" << true
                                  << QStringList{"tex.1.bmp", "tex.2.bmp"};
    }
    void decodeWritesNamedPictures() {
        QFETCH(QList<int>, formats);
        QFETCH(QString, folder);
        QFETCH(bool, bmp);
        QFETCH(QStringList, expectedNames);
        const int count = int(formats.size());
        std::vector<Raster> sources;
        for (int i = 0; i < count; ++i) sources.push_back(patternRaster(4 * (i + 2), 4 * (i + 1), i));
        std::vector<TextureInput> inputs;
        for (int i = 0; i < count; ++i)  // the alpha colour is a pixel of the picture, so some texels carry it
            inputs.push_back({&sources[std::size_t(i)], static_cast<TextureFormat>(formats[i]), sources[0].at(5, 3)});
        const QByteArray file = tplOf(inputs);
        const std::vector<Raster> expected = decodedRasters(file);
        write("tex.tpl", file);

        QStringList args{"decode", "tex.tpl"};
        if (!folder.isEmpty()) args << "-o" << folder;
        if (bmp) args << "--bmp";
        const Run r = run(args);
        QCOMPARE(r.status, 0);
        const QDir out(path(folder));
        QCOMPARE(out.entryList(QDir::Files, QDir::Name).filter(QRegularExpression("\\.(png|bmp)$")), expectedNames);
        for (int i = 0; i < count; ++i) {
            const QString name = out.filePath(expectedNames[i]);
            if (bmp) {
                QFile f(name);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), toBytes(encodeBmp24(expected[std::size_t(i)])));
            } else {
                const QImage image(name, "PNG");
                QVERIFY(!image.isNull());
                QVERIFY(!image.hasAlphaChannel());
                QVERIFY(fromImage(image) == expected[std::size_t(i)]);
            }
        }
    }

    void decodeSkipsUnsupportedTexture() {
        const Raster a = patternRaster(4, 4, 1), b = patternRaster(4, 4, 2), c = patternRaster(4, 4, 3);
        QByteArray file = tplOf(
            {{&a, TextureFormat::RGB565, kWhite}, {&b, TextureFormat::RGB565, kWhite}, {&c, TextureFormat::RGB565, kWhite}});
        const std::vector<Raster> decoded = decodedRasters(file);
        const Raster &one = decoded[0], &three = decoded[2];
        // A 4 x 4 CMPR texture takes one 32-byte block, the same room as RGB565.
        putU32be(file, headerAt(3, 1) + 4, 14);
        write("mixed.tpl", file);

        const Run r = run({"decode", "mixed.tpl"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("mixed.tpl: texture 2: format CMPR (14) is not supported; skipped"), qPrintable(r.err));
        QVERIFY(fromImage(QImage(path("mixed.1.png"))) == one);
        QVERIFY(!QFile::exists(path("mixed.2.png")));
        QVERIFY(fromImage(QImage(path("mixed.3.png"))) == three);
    }

    void infoText() {
        const Raster wide = patternRaster(8, 4, 0), square = patternRaster(4, 4, 1);
        QByteArray file = tplOf({{&wide, TextureFormat::RGB565, kWhite}, {&square, TextureFormat::RGB5A3, kWhite}});
        putU32be(file, headerAt(2, 1) + 12, 1);                                // wrap S repeat
        putU32be(file, headerAt(2, 1) + 28, std::bit_cast<std::uint32_t>(-1.5f));  // lod bias
        write("two.tpl", file);

        const std::uint32_t first = headerBlockLength(2), second = first + 64;

        const Run r = run({"info", "two.tpl"});
        QCOMPARE(r.status, 0);
        const QStringList lines = {QString("size: %1 bytes").arg(second + 32), "textures: 2", "texture 1", "8 x 4",
                                   "RGB565 (4)", "RGB5A3 (5)", QString("data offset:    %1").arg(first),
                                   QString("data offset:    %1").arg(second), "repeat (1) / clamp (0)", "-1.5"};
        for (const QString& line : lines)
            QVERIFY2(r.out.contains(line), qPrintable(QString("missing '%1' in:\n%2").arg(line, r.out)));
    }

    void infoJson() {
        const Raster wide = patternRaster(8, 4, 0), square = patternRaster(4, 4, 1);
        QByteArray file = tplOf({{&wide, TextureFormat::RGB565, kWhite}, {&square, TextureFormat::RGB5A3, kWhite}});
        putU32be(file, headerAt(2, 1) + 16, 2);                                   // wrap T mirror
        putU32be(file, headerAt(2, 1) + 28, std::bit_cast<std::uint32_t>(0.25f));  // lod bias
        file[headerAt(2, 1) + 34] = 7;                                             // max lod
        const QString name = "we\"ird\\näme\t.tpl";
        write(name, file);
        const int first = int(headerBlockLength(2)), second = first + 64;

        const Run r = run({"info", name, "--json"});
        QCOMPARE(r.status, 0);
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + "\n" + r.out));
        const QJsonObject top = doc.object();
        QCOMPARE(top["file"].toString(), name);
        QCOMPARE(top["size"].toInt(), second + 32);
        const QJsonArray textures = top["textures"].toArray();
        QCOMPARE(textures.size(), 2);
        const QJsonObject t1 = textures[0].toObject(), t2 = textures[1].toObject();
        QCOMPARE(t1["index"].toInt(), 1);
        QCOMPARE(t1["width"].toInt(), 8);
        QCOMPARE(t1["height"].toInt(), 4);
        QCOMPARE(t1["format"].toString(), QString("RGB565"));
        QCOMPARE(t1["offset"].toInt(), first);
        QCOMPARE(t1["min_filter"].toInt(), 1);
        QCOMPARE(t2["index"].toInt(), 2);
        QCOMPARE(t2["code"].toInt(), 5);
        QCOMPARE(t2["offset"].toInt(), second);
        QCOMPARE(t2["palette"].toInt(), 0);
        QCOMPARE(t2["wrap_t"].toInt(), 2);
        QCOMPARE(t2["lod_bias"].toDouble(), 0.25);
        QCOMPARE(t2["max_lod"].toInt(), 7);
    }

    void usageErrorsExit2_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no command") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"convert", "a.png"};
        QTest::newRow("encode without output") << QStringList{"encode", "a.png"};
        QTest::newRow("encode without images") << QStringList{"encode", "-o", "x.tpl"};
        QTest::newRow("unknown format") << QStringList{"encode", "-f", "cmpr", "a.png", "-o", "x.tpl"};
        QTest::newRow("short alpha") << QStringList{"encode", "-a", "fff", "a.png", "-o", "x.tpl"};
        QTest::newRow("alpha not hex") << QStringList{"encode", "-a", "gg0000", "a.png", "-o", "x.tpl"};
        QTest::newRow("format after last image") << QStringList{"encode", "a.png", "-f", "rgb5a3", "-o", "x.tpl"};
        QTest::newRow("decode without file") << QStringList{"decode", "--bmp"};
        QTest::newRow("info with unknown flag") << QStringList{"info", "t.tpl", "--xml"};
        QTest::newRow("info with two files") << QStringList{"info", "t.tpl", "t.tpl"};
    }
    void usageErrorsExit2() {
        QFETCH(QStringList, args);
        writePicture("a.png", patternRaster(4, 4, 0));
        const Raster r4 = patternRaster(4, 4, 0);
        write("t.tpl", tplOf({{&r4, TextureFormat::RGB565, kWhite}}));
        const Run r = run(args);
        QCOMPARE(r.status, 2);
        QVERIFY(!r.err.isEmpty());
        QVERIFY(!QFile::exists(path("x.tpl")));
    }

    void helpOnEveryCommand_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("top") << QStringList{"--help"} << "encode";
        QTest::newRow("encode") << QStringList{"encode", "--help"} << "--alpha";
        QTest::newRow("decode") << QStringList{"decode", "--help"} << "--bmp";
        QTest::newRow("info") << QStringList{"info", "--help"} << "--json";
    }
    void helpOnEveryCommand() {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        const Run r = run(args);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(mentions), qPrintable(r.out));
    }

    void unreadableInputExits1_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("named");
        QTest::newRow("missing picture") << QStringList{"encode", "none.png", "-o", "x.tpl"} << "none.png";
        QTest::newRow("missing targa") << QStringList{"encode", "ok.png", "none.tga", "-o", "x.tpl"} << "none.tga";
        QTest::newRow("not a picture") << QStringList{"encode", "junk.png", "-o", "x.tpl"} << "junk.png";
        QTest::newRow("truncated targa") << QStringList{"encode", "cut.tga", "-o", "x.tpl"} << "cut.tga";
        QTest::newRow("decode missing") << QStringList{"decode", "none.tpl"} << "none.tpl";
        QTest::newRow("decode not a tpl") << QStringList{"decode", "junk.png"} << "junk.png";
        QTest::newRow("info of a folder") << QStringList{"info", "folder"} << "folder";
        QTest::newRow("info of a cut tpl") << QStringList{"info", "cut.tpl", "--json"} << "cut.tpl";
    }
    void unreadableInputExits1() {
        QFETCH(QStringList, args);
        QFETCH(QString, named);
        writePicture("ok.png", patternRaster(4, 4, 0));
        write("junk.png", "this is not a picture at all");
        write("cut.tga", targaBytes(patternRaster(4, 4, 0)).left(40));
        QVERIFY(QDir(dir_.path()).mkdir("folder"));
        const Raster r4 = patternRaster(4, 4, 0);
        write("cut.tpl", tplOf({{&r4, TextureFormat::RGB565, kWhite}}).left(80));

        const Run r = run(args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(named), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(path("x.tpl")));
    }
};

QTEST_MAIN(CliTest)
#include "cli_tests.moc"
