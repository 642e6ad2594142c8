// Runs the built tplforge-cli on files made in a temporary folder and checks its
// files against the core it shares with the window, its messages and statuses.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "imageio/bmp.h"
#include "platform/qt/picture_loader.h"
#include "tpl/tpl_file.h"

using namespace tplforge;

class CliTest : public QObject {
    Q_OBJECT

    static constexpr auto RGB565 = TextureFormat::RGB565;
    QTemporaryDir dir_;  // the working folder of the tests and of the tool

    // Pure red, green and blue up front, to serve as alpha colours; then every channel varies.
    static Raster pattern(int w, int h, unsigned s) {
        Raster r(w, h);
        for (unsigned i = 0; i < r.pixels.size(); ++i) r.pixels[i] = i < 3 ? 0xFFu << 8 * i : (i * 40503u + s) & kWhite;
        return r;
    }
    QByteArray tplOf(const std::vector<TextureInput>& in) { return QByteArrayView(buildTpl(in).value()).toByteArray(); }
    // A picture the tool wrote holds, with no alpha channel, exactly what the core's
    // reader makes of texture k.
    static bool holds(const QString& picture, const QByteArray& tpl, std::size_t k) {
        const std::vector<std::uint8_t> file(tpl.begin(), tpl.end());
        const QImage img(picture);
        return !img.hasAlphaChannel() && rasterFromImage(img) == decodeTexture(file, parseTpl(file)->images[k])->raster;
    }
    // Uncompressed 24-bit Targa: bottom row first in BGR order, as in a bitmap whose
    // rows need no padding (every width here is a multiple of 4).
    static QByteArray targa(const Raster& r) {
        return QByteArray::fromHex("000002000000000000000000") + char(r.width) + '\0' + char(r.height) + '\0' +
               char(24) + '\0' + QByteArrayView(encodeBmp24(r)).toByteArray().mid(54);
    }
    static QByteArray read(const QString& n) { QFile f(n); return f.open(QFile::ReadOnly) ? f.readAll() : ""; }
    static void write(const QString& name, const QByteArray& bytes) {
        if (QFile f(name); !f.open(QFile::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    }
    struct Run { int status = -1; QString out, err; };
    static Run run(const QString& args) {
        QProcess p;
        p.start(QStringLiteral(TPLFORGE_CLI_PATH), args.split(' ', Qt::SkipEmptyParts));
        if (!p.waitForFinished() || p.exitStatus() != QProcess::NormalExit) return {};
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(dir_.path())); }

    // Each row names its images in order and gives the format (4 or 5) and alpha
    // colour (white, red, green, blue) each must be encoded with.
    void encodeEqualsBuildTpl() {
        const QStringList names = {"a.png", "b.bmp", "c.tga", "d.TGA", "e.png", "f.bmp"};
        std::vector<Raster> rasters;
        for (int i = 0; i < 6; ++i) rasters.push_back(pattern(4 * (i + 1), 4 * (3 - i % 3), i));
        for (int i : {0, 1, 4, 5}) QVERIFY(imageFromRaster(rasters[i]).save(names[i]));  // Qt: PNG or bitmap by name
        for (int i : {2, 3}) write(names[i], targa(rasters[i]));
        const ColourValue alpha[] = {kWhite, rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255)};
        const char* const cases[][3] = {
            {"a.png b.bmp c.tga d.TGA e.png f.bmp", "444444", "wwwwww"},  // more than the window's five slots
            {"-a 0000ff -f rgb5a3 a.png -f rgb565 b.bmp -f RGB5A3 c.tga", "545", "bbb"},
            {"--format=rgb5a3 a.png --alpha ff0000 b.bmp -a 00FF00 c.tga -frgb565 d.TGA", "5554", "wrgg"},
        };
        for (const auto& [args, formats, alphas] : cases) {
            std::vector<TextureInput> in;
            for (std::size_t i = 0; formats[i]; ++i)
                in.push_back({&rasters[i], TextureFormat(formats[i] - '0'), alpha[QString("wrgb").indexOf(alphas[i])]});
            const Run r = run(QString("encode -o out.tpl ") + args);
            QVERIFY2(r.status == 0 && r.err.isEmpty() && read("out.tpl") == tplOf(in), args);
        }
    }

    // Texture 2 of 3 is CMPR (a 4 × 4 one fills one 32-byte block, as RGB565 does):
    // info lists it, decode writes the other two and names it.
    void decodeAndInfo() {
        const Raster a = pattern(8, 4, 1), b = pattern(4, 4, 2), c = pattern(4, 8, 3);
        QByteArray file = tplOf({{&a, RGB565, kWhite}, {&b, RGB565, kWhite}, {&c, RGB565, kWhite}});
        // Texture 2's header starts at byte 72, after the file header, 3 table entries
        // and texture 1's header. Its big-endian fields, zero where set here: format
        // CMPR (14), wrap s repeat (1), lod bias -1.5.
        file.replace(72 + 7, 1, "\x0e").replace(72 + 15, 1, "\x01").replace(72 + 28, 2, "\xbf\xc0");
        write("tex.tpl", file);
        const Run r = run("decode tex.tpl --bmp -o pictures/");
        QVERIFY2(r.status == 1 && r.err.contains("texture 2: format CMPR (14) is not supported"), qPrintable(r.err));
        QCOMPARE(QDir("pictures").entryList({"tex.?.*"}), QStringList({"tex.1.bmp", "tex.3.bmp"}));
        for (int k : {0, 2}) QVERIFY(holds(QString("pictures/tex.%1.bmp").arg(k + 1), file, k));
        // A lone texture's picture carries no number; PNG into the current folder by default.
        write("one.tpl", tplOf({{&a, RGB565, kWhite}}));
        QVERIFY(run("decode one.tpl").status == 0 && holds("one.png", file, 0));

        const QString name = "we\"ird\\näme.tpl", second = QString::number(headerBlockLength(3) + 64);
        write(name, file);
        const Run info = run("info " + name);
        const QStringList lines{"textures: 3", "8 x 4", "RGB565 (4)", "CMPR (14)", "-1.5", "repeat (1) / clamp (0)",
                                "offset:    " + second, QString("size: %1 bytes").arg(file.size())};
        for (const QString& line : lines) QVERIFY2(!info.status && info.out.contains(line), qPrintable(line));
        const QJsonObject top = QJsonDocument::fromJson(run("info " + name + " --json").out.toUtf8()).object();
        QVERIFY(top["file"] == name && top["size"] == file.size() && top["textures"][3].isUndefined());
        QCOMPARE(top["textures"][1].toObject(), QJsonDocument::fromJson(QString(R"({"index": 2, "width": 4,
            "height": 4, "format": "CMPR", "code": 14, "offset": %1, "palette": 0, "wrap_s": 1, "wrap_t": 0,
            "min_filter": 1, "mag_filter": 1, "lod_bias": -1.5, "edge_lod": 0, "min_lod": 0, "max_lod": 0})")
                                                                .arg(second).toUtf8()).object());
    }

    // Usage errors end with 2, unreadable or refused inputs with 1 and the file
    // named; either way nothing is written and an existing output stays as it was.
    void failuresWriteNothing() {
        QVERIFY(imageFromRaster(pattern(4, 4, 0)).save("good.png"));
        QVERIFY(imageFromRaster(pattern(6, 4, 1)).save("odd.png"));
        for (const char* junk : {"junk.png", "junk.tga", "junk.tpl", "out.tpl"}) write(junk, "not a picture at all");
        const QStringList before = QDir().entryList();
        const std::tuple<const char*, int, const char*> cases[] = {  // arguments, status, the file named
            {"", 2, ""}, {"encode good.png", 2, ""}, {"encode -o x.tpl", 2, ""}, {"decode --bmp", 2, ""},
            {"encode -f cmpr good.png -o x.tpl", 2, ""}, {"encode -a fff good.png -o x.tpl", 2, ""},
            {"encode good.png -f rgb5a3 -o x.tpl", 2, ""},  // -f with no image after it
            {"encode good.png odd.png -o out.tpl", 1, "odd.png: size 6 x 4"}, {"decode none.tpl", 1, "none.tpl"},
            {"encode good.png none.tga -o x.tpl", 1, "none.tga"}, {"encode junk.png -o x.tpl", 1, "junk.png"},
            {"encode junk.tga -o x.tpl", 1, "junk.tga"}, {"decode junk.png", 1, "junk.png"},
            {"info junk.tpl --json", 1, "junk.tpl"},
        };
        for (const auto& [args, status, named] : cases) {
            const Run r = run(args);
            QVERIFY2(r.status == status && r.out.isEmpty() && !r.err.isEmpty() && r.err.contains(named), args);
        }
        QCOMPARE(QDir().entryList(), before);
        QCOMPARE(read("out.tpl"), QByteArray("not a picture at all"));
    }
};

QTEST_MAIN(CliTest)
#include "cli_tests.moc"
