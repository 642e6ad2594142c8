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
    QTemporaryDir dir_;

    // Pure red, green and blue up front, to serve as alpha colours; then every channel varies.
    static Raster pattern(int w, int h, unsigned s) {
        Raster r(w, h);
        for (unsigned i = 0; i < r.pixels.size(); ++i) r.pixels[i] = i < 3 ? 0xFFu << 8 * i : (i * 40503u + s) & kWhite;
        return r;
    }
    static QByteArray bytesOf(const std::vector<std::uint8_t>& v) { return QByteArrayView(v).toByteArray(); }
    static QByteArray tplOf(const std::vector<TextureInput>& inputs) { return bytesOf(buildTpl(inputs).value()); }
    // What the core's reader makes of texture k: the tool must write exactly this.
    static Raster decoded(const QByteArray& bytes, std::size_t k) {
        const std::vector<std::uint8_t> file(bytes.begin(), bytes.end());
        return decodeTexture(file, parseTpl(file)->images.at(k))->raster;
    }
    // Uncompressed 24-bit Targa: bottom row first in BGR order, as in a bitmap whose
    // rows need no padding (every width here is a multiple of 4).
    static QByteArray targa(const Raster& r) {
        return QByteArray::fromHex("000002000000000000000000") + char(r.width) + '\0' + char(r.height) + '\0' +
               char(24) + '\0' + bytesOf(encodeBmp24(r)).mid(54);
    }

    QString path(const QString& name) const { return dir_.filePath(name); }
    QByteArray read(const QString& n) const { QFile f(path(n)); return f.open(QFile::ReadOnly) ? f.readAll() : ""; }
    void write(const QString& name, const QByteArray& bytes) const {
        if (QFile f(path(name)); !f.open(QFile::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    }
    void writePicture(const QString& name, const Raster& r) const {  // by extension: PNG, bitmap or Targa
        if (name.endsWith(".png")) return void(imageFromRaster(r).save(path(name)));
        write(name, name.endsWith(".bmp") ? bytesOf(encodeBmp24(r)) : targa(r));
    }
    struct Run { int status = -1; QString out, err; };
    Run run(const QString& args) const {
        QProcess p;
        p.setWorkingDirectory(dir_.path());
        p.start(QStringLiteral(TPLFORGE_CLI_PATH), args.split(' ', Qt::SkipEmptyParts));
        if (!p.waitForFinished() || p.exitStatus() != QProcess::NormalExit) return {};
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }

private slots:
    // Each row names its images in order and gives the format (4 or 5) and alpha
    // colour (white, red, green, blue) each must be encoded with.
    void encodeEqualsBuildTpl() {
        const QStringList names = {"a.png", "b.bmp", "c.tga", "d.TGA", "e.png", "f.bmp"};
        std::vector<Raster> rasters(6);
        for (int i = 0; i < 6; ++i) writePicture(names[i], rasters[i] = pattern(4 * (i + 1), 4 * (3 - i % 3), i));
        const ColourValue alpha[] = {kWhite, rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255)};
        const char* const cases[][3] = {
            {"a.png b.bmp c.tga d.TGA e.png f.bmp", "444444", "wwwwww"},  // more than the window's five slots
            {"a.png -f rgb5a3 b.bmp c.tga", "455", "www"},
            {"-f rgb5a3 -a ff0000 a.png -a 0000ff b.bmp -a 00FF00 c.tga", "555", "rbg"},
            {"-a 0000ff -f rgb5a3 a.png -f rgb565 b.bmp -f RGB5A3 c.tga", "545", "bbb"},
            {"--format=rgb5a3 a.png --alpha ff0000 b.bmp -frgb565 c.tga", "554", "wrr"},
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
    // info lists it, decode writes the other two, as pictures or bitmaps, and names it.
    void decodeAndInfo() {
        const Raster a = pattern(8, 4, 1), b = pattern(4, 4, 2), c = pattern(4, 8, 3);
        QByteArray file = tplOf({{&a, RGB565, kWhite}, {&b, RGB565, kWhite}, {&c, RGB565, kWhite}});
        // Texture 2's header starts at byte 72, after the file header, 3 table entries
        // and texture 1's header; its fields are big-endian, and zero where set here.
        file[72 + 7] = 14;                                      // format CMPR
        file[72 + 15] = 1;                                      // wrap s: repeat
        file.replace(72 + 28, 2, QByteArray::fromHex("bfc0"));  // lod bias -1.5
        write("tex.tpl", file);
        for (const QString folder : {"pictures/", ""}) {  // PNG into a new folder, then bitmaps here
            const Run r = run(folder.isEmpty() ? "decode tex.tpl --bmp" : "decode tex.tpl -o " + folder);
            QVERIFY2(r.status == 1 && r.err.contains("tex.tpl: texture 2: format CMPR (14) is not supported; skipped"),
                     qPrintable(r.err));
            const QString suffix = folder.isEmpty() ? ".bmp" : ".png";
            QCOMPARE(QDir(path(folder)).entryList({"tex.?.*"}), QStringList({"tex.1" + suffix, "tex.3" + suffix}));
            for (int k : {0, 2}) {
                const QImage image(path(folder + "tex." + QString::number(k + 1) + suffix));
                QVERIFY(!image.hasAlphaChannel() && rasterFromImage(image) == decoded(file, k));
            }
        }
        write("one.tpl", tplOf({{&a, RGB565, kWhite}}));  // a lone texture's picture carries no number
        QVERIFY(run("decode one.tpl").status == 0 && rasterFromImage(QImage(path("one.png"))) == decoded(file, 0));

        const QString name = "we\"ird\\näme.tpl", second = QString::number(headerBlockLength(3) + 64);
        write(name, file);
        const Run text = run("info " + name);
        const QStringList lines{"textures: 3", "8 x 4", "RGB565 (4)", "CMPR (14)", "repeat (1) / clamp (0)", "-1.5",
                                "offset:    " + second, QString("size: %1 bytes").arg(file.size())};
        for (const QString& line : lines)
            QVERIFY2(text.status == 0 && text.out.contains(line), qPrintable(line + " not in:\n" + text.out));
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
        const Raster square = pattern(4, 4, 0);
        writePicture("good.png", square);
        writePicture("odd.png", pattern(6, 4, 1));
        write("junk.png", "this is not a picture at all");
        write("cut.tga", targa(square).left(40));
        write("cut.tpl", tplOf({{&square, RGB565, kWhite}}).left(80));
        write("out.tpl", "previous contents");
        QVERIFY(QDir(dir_.path()).mkdir("folder"));
        const QStringList before = QDir(dir_.path()).entryList();

        const std::tuple<const char*, int, const char*> cases[] = {  // arguments, status, the file named
            {"", 2, ""}, {"convert good.png", 2, ""}, {"encode good.png", 2, ""}, {"encode -o x.tpl", 2, ""},
            {"decode --bmp", 2, ""}, {"info good.png --xml", 2, ""}, {"encode -f cmpr good.png -o x.tpl", 2, ""},
            {"encode -a fff good.png -o x.tpl", 2, ""}, {"encode good.png -f rgb5a3 -o x.tpl", 2, ""},  // -f, no image
            {"encode good.png odd.png -o out.tpl", 1, "odd.png: size 6 x 4"},
            {"encode good.png none.tga -o x.tpl", 1, "none.tga"}, {"encode junk.png -o x.tpl", 1, "junk.png"},
            {"encode cut.tga -o x.tpl", 1, "cut.tga"}, {"decode none.tpl", 1, "none.tpl"},
            {"decode junk.png", 1, "junk.png"}, {"info folder", 1, "folder"}, {"info cut.tpl --json", 1, "cut.tpl"},
        };
        for (const auto& [args, status, named] : cases) {
            const Run r = run(args);
            QVERIFY2(r.status == status && r.out.isEmpty() && !r.err.isEmpty() && r.err.contains(named), args);
        }
        QCOMPARE(QDir(dir_.path()).entryList(), before);
        QCOMPARE(read("out.tpl"), QByteArray("previous contents"));
    }
};

QTEST_MAIN(CliTest)
#include "cli_tests.moc"
