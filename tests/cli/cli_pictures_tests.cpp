// Runs the built tplforge-cli on pictures made in a temporary folder, for what
// it does with pictures that only the reader process can read: encode keeps
// their alpha, --window writes what the window's "Guardar TPL" writes for the
// same files, and a reader that crashes is reported with nothing written.
#include <deque>
#include <span>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "codec/bytes.h"
#include "tplforge/file_io.h"
#include "commands/commands.h"
#include "platform/qt/qt_platform.h"
#include "tplforge/png.h"

using namespace tplforge;

namespace {

// A picture given as straight RGBA, 0xRRGGBBAA a pixel.
Image rgbaImage(int width, int height, std::initializer_list<std::uint32_t> pixels) {
    Image image(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    std::size_t i = 0;
    for (std::uint32_t p : pixels)
        for (int shift : {24, 16, 8, 0}) image.rgba[i++] = static_cast<std::uint8_t>(p >> shift);
    return image;
}

// 4 × 4, every alpha from clear to opaque; full channels only, so that an icon
// reader's premultiplying cannot round them.
const Image kAlphaPicture = rgbaImage(4, 4, {0xFF0000FF, 0x00FF0080, 0x0000FF00, 0xFFFFFF40, 0x00000000, 0xFF00FFFF,
                                             0x00FFFFC0, 0xFFFF0001, 0xFF0000FE, 0x00FF0000, 0x0000FF80, 0xFFFFFFFF,
                                             0x000000FF, 0xFF00FF20, 0x00FFFF00, 0xFFFF00FF});

// A 32-bit bitmap with an alpha mask (version 5 header), rows top-down.
QByteArray alphaBitmap(const Image& image) {
    ByteWriter out;
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(image.rgba.size());
    out.u8('B'), out.u8('M'), out.u32le(14 + 124 + pixelBytes), out.u32le(0), out.u32le(14 + 124);
    out.u32le(124), out.u32le(image.width), out.u32le(static_cast<std::uint32_t>(-std::int32_t(image.height)));
    out.u16le(1), out.u16le(32), out.u32le(3), out.u32le(pixelBytes), out.u32le(2835), out.u32le(2835);
    out.u32le(0), out.u32le(0);
    for (std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) out.u32le(mask);
    out.u32le(0x73524742);  // sRGB
    out.zeros(36 + 12);
    out.u32le(4), out.zeros(12);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4)
        for (int c : {2, 1, 0, 3}) out.u8(image.rgba[i + c]);
    return QByteArray(reinterpret_cast<const char*>(out.data().data()), qsizetype(out.size()));
}

// A GIF of palette indices with one transparent entry; every index is its own
// 3-bit LZW code after a clear code, so no table ever grows.
QByteArray transparentGif(int width, int height, const std::vector<std::uint8_t>& indices, int transparent) {
    QByteArray gif = "GIF89a";
    ByteWriter out;
    out.u16le(std::uint16_t(width)), out.u16le(std::uint16_t(height)), out.u8(0x81), out.u8(0), out.u8(0);
    for (std::uint32_t colour : {0xC80A14u, 0x0AC81Eu, 0x141EC8u, 0xFAFA05u})
        out.u8(std::uint8_t(colour >> 16)), out.u8(std::uint8_t(colour >> 8)), out.u8(std::uint8_t(colour));
    out.u8(0x21), out.u8(0xF9), out.u8(4), out.u8(1), out.u16le(0), out.u8(std::uint8_t(transparent)), out.u8(0);
    out.u8(0x2C), out.u32le(0), out.u16le(std::uint16_t(width)), out.u16le(std::uint16_t(height)), out.u8(0);
    std::vector<int> codes;
    for (std::uint8_t index : indices) codes.insert(codes.end(), {4, index});
    codes.push_back(5);
    std::vector<std::uint8_t> packed((codes.size() * 3 + 7) / 8);
    for (std::size_t i = 0; i < codes.size(); ++i)
        for (int bit = 0; bit < 3; ++bit)
            if (codes[i] >> bit & 1) packed[(3 * i + bit) / 8] |= std::uint8_t(1 << ((3 * i + bit) % 8));
    out.u8(2), out.u8(std::uint8_t(packed.size())), out.append(packed), out.u8(0), out.u8(0x3B);
    return gif + QByteArray(reinterpret_cast<const char*>(out.data().data()), qsizetype(out.size()));
}

QByteArray icon(const Image& image) {
    QImage argb(image.width, image.height, QImage::Format_ARGB32);
    for (std::uint32_t y = 0; y < image.height; ++y)
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = &image.rgba[4 * (y * image.width + x)];
            argb.setPixel(int(x), int(y), qRgba(p[0], p[1], p[2], p[3]));
        }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    argb.save(&buffer, "ico");
    return bytes;
}

// A 40 × 20 enhanced metafile holding one ellipse in a solid brush, whose edges
// the renderer draws half-covered: where straight alpha and the surface part ways.
QByteArray ellipseMetafile() {
    ByteWriter out;
    for (std::uint32_t word : {1u, 88u, 0u, 0u, 40u, 20u, 0u, 0u, 1084u, 555u, 0x464D4520u, 0x10000u, 168u, 5u, 2u, 0u,
                               0u, 0u, 1024u, 768u, 271u, 203u,  // header: bounds, frame, sizes, device
                               39u, 24u, 1u, 0u, 0x3C1EC8u, 0u, 37u, 12u, 1u,  // solid brush, selected
                               42u, 24u, 3u, 3u, 37u, 17u, 14u, 20u, 0u, 16u, 20u})  // ellipse, end of file
        out.u32le(word);
    return QByteArray(reinterpret_cast<const char*>(out.data().data()), qsizetype(out.size()));
}

QByteArray bytesOf(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// The window's platform with its dialogs answered from queues.
class ScriptedWindowPlatform : public QtPlatform {
public:
    std::deque<std::string> openAnswers, saveAnswers;
    QStringList messages;
    std::string showOpenDialog(const FileDialogRequest&) override { return next(openAnswers); }
    std::string showSaveDialog(const FileDialogRequest&) override { return next(saveAnswers); }
    MessageAnswer showMessage(const MessageBoxRequest& request) override {
        messages << QString::fromStdString(request.text);
        return MessageAnswer::Ok;
    }

private:
    static std::string next(std::deque<std::string>& answers) {
        if (answers.empty()) return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace

class CliTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;  // the working folder of the tests and of the tool

    static void write(const QString& name, const QByteArray& bytes) {
        if (QFile f(name); !f.open(QFile::WriteOnly) || f.write(bytes) != bytes.size()) qFatal("cannot write");
    }
    struct Run {
        int status = -1;
        QString err;
    };
    static Run run(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TPLFORGE_CLI_PATH), args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) return {};
        return {p.exitCode(), p.readAllStandardError()};
    }

    // The pictures every test uses: what only the reader process reads, with
    // transparency, and a PNG beside them for the in-process path.
    void writePictures() {
        write("alpha.bmp", alphaBitmap(kAlphaPicture));
        write("clear.gif", transparentGif(4, 4, {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 3, 3, 1, 2, 3, 0}, 3));
        write("alpha.ico", icon(kAlphaPicture));
        write("alpha.cur", icon(kAlphaPicture).replace(2, 1, "\x02", 1));
        write("alpha.png", bytesOf(writePng(kAlphaPicture, PngChannels::Rgba)));
        write("ellipse.emf", ellipseMetafile());
    }

private slots:
    void initTestCase() {
        QVERIFY(QDir::setCurrent(dir_.path()));
        writePictures();
    }

    // Through a lossless RGBA8 texture and back: every pixel as the file has it,
    // clear ones by their alpha alone.
    void encodeKeepsAlpha() {
        Image gifPicture(4, 4);
        const std::uint32_t palette[] = {0xC80A14FF, 0x0AC81EFF, 0x141EC8FF, 0};
        const int indices[] = {0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 3, 3, 1, 2, 3, 0};
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 4; ++c) gifPicture.rgba[4 * i + c] = std::uint8_t(palette[indices[i]] >> (24 - 8 * c));
        for (const auto& [name, expected] : {std::pair{"alpha.bmp", kAlphaPicture}, {"clear.gif", gifPicture},
                                             {"alpha.ico", kAlphaPicture}, {"alpha.cur", kAlphaPicture}}) {
            const QString stem = QFileInfo(name).completeBaseName() + QFileInfo(name).suffix();
            const Run encoded = run({"encode", "-f", "rgba8", name, "-o", stem + ".tpl"});
            QVERIFY2(encoded.status == 0, qPrintable(encoded.err));
            const Run decoded = run({"decode", stem + ".tpl", "-o", "kept"});
            QVERIFY2(decoded.status == 0, qPrintable(decoded.err));
            const auto file = readWholeFile(QDir("kept").filePath(stem + ".png").toStdString());
            QVERIFY(file.ok());
            const auto picture = readPng(*file);
            QVERIFY(picture && picture->width == 4 && picture->height == 4);
            for (std::size_t i = 0; i < 64; i += 4) {
                const auto seen = std::span(picture->rgba).subspan(i, 4), want = std::span(expected.rgba).subspan(i, 4);
                QVERIFY2(want[3] == 0 ? seen[3] == 0 : std::equal(want.begin(), want.end(), seen.begin()),
                         qPrintable(QString("%1 pixel %2").arg(name).arg(i / 4)));
            }
        }
    }

    // The window loads each file into its own slot, some slots RGB5A3 with the
    // white alpha colour, and saves; --window with the same formats writes the
    // same bytes.
    void windowEncodeEqualsGuardarTpl() {
        const char* files[] = {"alpha.bmp", "clear.gif", "alpha.ico", "alpha.png", "ellipse.emf"};
        ScriptedWindowPlatform platform;
        SlotModel model;
        Commands commands(model, platform);
        platform.setPictureReader({TPLFORGE_PICTURE_READER_PATH});
        model.startUp(std::make_shared<const Raster>(8, 8));
        for (int slot = 1; slot <= 5; ++slot) {
            commands.selectSlot(slot);
            platform.openAnswers = {files[slot - 1]};
            commands.readPicture();
            slot % 2 ? commands.chooseRgb5a3() : commands.chooseRgb565();
        }
        platform.saveAnswers = {"window.tpl"};
        commands.saveTpl();
        QVERIFY2(platform.messages.isEmpty(), qPrintable(platform.messages.join('\n')));
        for (int slot = 1; slot <= 5; ++slot) QVERIFY(!model.slotIsEmpty(slot));

        const Run cli = run({"encode", "--window", "-f", "rgb5a3", files[0], "-f", "rgb565", files[1], "-f", "rgb5a3",
                             files[2], "-f", "rgb565", files[3], "-f", "rgb5a3", files[4], "-o", "cli.tpl"});
        QVERIFY2(cli.status == 0, qPrintable(cli.err));
        const auto window = readWholeFile("window.tpl"), written = readWholeFile("cli.tpl");
        QVERIFY(window.ok() && written.ok());
        QVERIFY(*window == *written);
    }

    // A reader that dies on a file: the file is named with the reason, nothing
    // is written, and the exit status says an input failed.
    void crashingReaderIsReported() {
        write("abort.bmp", "BM");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kPictureProgramVariable, FAKE_PICTURE_READER);
        const Run r = run({"encode", "alpha.png", "abort.bmp", "-o", "never.tpl"}, env);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("abort.bmp: the picture reader failed on this file (it crashed (signal 6"),
                 qPrintable(r.err));
        QVERIFY(r.err.contains("never.tpl: not written") && !QFile::exists("never.tpl"));
    }
};

QTEST_MAIN(CliTest)
#include "cli_pictures_tests.moc"
