#include "platform/qt/qt_platform.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QThread>
#include <QWidget>

#include "tplforge/file_io.h"
#include "window_rules/window_rules.h"
#include "tplforge/png.h"

namespace tplforge {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

std::string toPath(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }

// Qt's dialog answers from the rows its file view has selected, and these can
// lag behind the typed text: folders passed on the way to a full path may stay
// selected, and then Qt goes into one of them or greys the button instead of
// taking the file. So a name that stands for a file is taken as typed.
class TypedNameDialog : public QFileDialog {
public:
    TypedNameDialog(QWidget* parent, const QString& title) : QFileDialog(parent, title) {
        setOption(QFileDialog::DontUseNativeDialog);
    }

    // Enter in the name field comes here even while Qt has the button greyed.
    void accept() override {
        if (filterByTypedPattern()) return;
        chosen_ = typedFile();
        if (chosen_.isEmpty())
            QFileDialog::accept();
        else
            QDialog::accept();
    }

    QString chosen() const {
        const QStringList files = selectedFiles();
        return chosen_.isEmpty() && !files.isEmpty() ? files.front() : chosen_;
    }

private:
    QLineEdit* nameField() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

    // A typed pattern ("*.bmp", "foo?.png", "*.tga;*.tpl", a folder before it)
    // lists only the files it matches, as the desktop's own dialogs do; nothing
    // is chosen. The filter list keeps its entries: picking one lists by it again.
    bool filterByTypedPattern() {
        QLineEdit* field = nameField();
        const QString text = field ? field->text() : QString();
        if (text.contains(QLatin1Char('"')) || (!text.contains(QLatin1Char('*')) && !text.contains(QLatin1Char('?'))))
            return false;
        const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
        const QString folder = text.left(slash + 1), pattern = text.mid(slash + 1);
        const QStringList patterns = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (!folder.isEmpty()) {
            // Patterns name files only; a folder that is not there leaves the list as it is.
            const QFileInfo into(directory(), folder);
            if (!into.isDir() || patterns.isEmpty()) return true;
            setDirectory(into.absoluteFilePath());
        }
        if (patterns.isEmpty()) return true;
        if (auto* files = findChild<QFileSystemModel*>())
            files->setNameFilters(patterns);
        else
            setNameFilter(patterns.join(QLatin1Char(' ')));
        field->setText(pattern);
        return true;
    }

    // An existing file, or a missing one in a folder that exists. A folder to go
    // into, "..", quoted names or a path through missing folders stay Qt's.
    QString typedFile() const {
        const QLineEdit* field = nameField();
        const QString text = field ? field->text() : QString();
        if (text.isEmpty() || text.contains(QLatin1Char('"'))) return {};
        // Qt may have put there the bare name of a row its view selected, and that
        // row need not lie in the folder shown.
        if (!text.contains(QLatin1Char('/')))
            for (const QString& file : selectedFiles())
                if (const QFileInfo row(file); row.fileName() == text && row.isFile()) return file;
        const QFileInfo info(directory(), text);
        if (info.isDir() || !(info.exists() || info.dir().exists())) return {};
        return QDir::cleanPath(info.absoluteFilePath());
    }

    QString chosen_;
};

// The window keeps nothing between runs, but Qt's file dialog keeps its last
// folder, history and view in the user's QtProject.conf. Settings of this
// process are looked for where no file can be made, so they start empty each
// run and every write is dropped.
void keepNoSettings() {
    const QString nowhere = QStringLiteral("/dev/null");
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, nowhere);
}

// Qt's own dialog, the same on every desktop; the file-name field takes a typed
// path. Nothing else is set: no folder, no suffix, no question before replacing.
std::string runFileDialog(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    TypedNameDialog dialog(parent, fromUtf8(request.title));
    dialog.setAcceptMode(mode);
    // AnyFile also in the open dialog, which must take the name of a file that
    // does not exist (the command decides what to do with it).
    dialog.setFileMode(QFileDialog::AnyFile);
    if (mode == QFileDialog::AcceptSave) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(qtNameFilters(request.filter).split(QStringLiteral(";;")));
    dialog.selectFile(fromUtf8(request.fileName));
    if (dialog.exec() != QDialog::Accepted) return {};
    const QString file = dialog.chosen();
    return file.isEmpty() ? std::string() : toPath(file);
}

bool startsAsPng(const std::string& path) {
    std::uint8_t signature[8] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    const std::size_t got = std::fread(signature, 1, sizeof signature, file);
    std::fclose(file);
    return isPng(std::span(signature, got));
}

// While a picture is read, every input event to the program is dropped: no
// click or key runs a handler in the middle of another, nor later, on a window
// that has changed meanwhile.
class DropInput : public QObject {
public:
    DropInput() { QCoreApplication::instance()->installEventFilter(this); }
    ~DropInput() override { QCoreApplication::instance()->removeEventFilter(this); }
    DropInput(const DropInput&) = delete;
    DropInput& operator=(const DropInput&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::ShortcutOverride:
                event->accept();  // taken, so that no shortcut fires either
                return true;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TouchCancel:
            case QEvent::TabletPress:
            case QEvent::TabletRelease:
            case QEvent::Drop:
                return true;
            default:
                return false;
        }
    }
};

// Runs `work` on a thread of its own while this one goes on painting the
// windows, under a busy cursor and with input dropped; the handler that asked
// waits here, as it would for a dialog. Timers, posted events and closes are
// still delivered: the window holds its own timers and closes only after the
// handler.
template <typename Work>
auto waitPainting(Work work) -> decltype(work()) {
    using Result = decltype(work());
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application || QThread::currentThread() != application->thread()) return work();

    std::optional<Result> result;
    std::exception_ptr failure;
    std::atomic<bool> done = false;
    QEventLoop loop;
    const DropInput dropInput;
    std::thread worker([&] {
        try {
            result.emplace(work());
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // Ended early only when the program quits; then the read is waited for
    // without painting (the reader ends by itself or at its time limit).
    if (!done) loop.exec();
    worker.join();
    QGuiApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

Expected<WindowRaster, PictureError> decodePicture(const std::string& path, const PictureReader& reader) {
    if (startsAsPng(path)) {
        const auto bytes = readWholeFile(path);
        if (!bytes) return fail(PictureError::CannotOpen);
        const auto png = readPng(*bytes);
        if (!png) return fail(png.error() == PngError::TooLarge ? PictureError::TooLarge : PictureError::Corrupt);
        return window_rules::overSurface(*png);
    }
    const auto picture = readPictureInProcess(path, Backdrop::over(rrggbbOf(kSurfaceColour)), reader);
    if (!picture) return fail(picture.error().error);
    return window_rules::overSurface(*picture);
}

ColourValue colourOf(const QImage& image, QPoint at) {
    const QRgb p = image.pixel(at);
    return rgb(qRed(p), qGreen(p), qBlue(p));
}

}  // namespace

QString qtNameFilters(const std::string& filter) {
    const QStringList parts = fromUtf8(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "*.*" means every file to the user; in Qt it would demand a dot.
        for (QString& pattern : patterns)
            if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

QtPlatform::QtPlatform(QWidget* parent) : parent_(parent) {
    static std::once_flag once;
    std::call_once(once, keepNoSettings);
}

std::string QtPlatform::showOpenDialog(const FileDialogRequest& request) {
    beforeModal();
    return runFileDialog(parent_, request, QFileDialog::AcceptOpen);
}

std::string QtPlatform::showSaveDialog(const FileDialogRequest& request) {
    beforeModal();
    return runFileDialog(parent_, request, QFileDialog::AcceptSave);
}

MessageAnswer QtPlatform::showMessage(const MessageBoxRequest& request) {
    beforeModal();
    QMessageBox box(parent_);
    box.setWindowTitle(fromUtf8(request.title));
    box.setText(fromUtf8(request.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (request.icon) {
        case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
        case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    }
    if (request.buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.defaultButton == MessageAnswer::No ? QMessageBox::No : QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes: return MessageAnswer::Yes;
        case QMessageBox::No: return MessageAnswer::No;
        case QMessageBox::Ok: return MessageAnswer::Ok;
        default: break;
    }
    // Closed without a button: Qt counts that as the escape button, which is No
    // in a question and OK otherwise.
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

// PNG is read here by our own reader, as the command line does; everything else
// in the reader process, so that a decoder that crashes or hangs on a file costs
// a message box, not the window and the user's slots.
Expected<WindowRaster, PictureError> QtPlatform::loadPicture(const std::string& path) {
    beforeModal();
    return waitPainting([&path, reader = pictureReader_] { return decodePicture(path, reader); });
}

std::error_code QtPlatform::savePicture(const WindowRaster& picture, const std::string& path) {
    const auto bitmap = window_rules::encodeBmp24(picture);
    if (!bitmap) return std::make_error_code(std::errc::file_too_large);
    const auto written = writeFileAtomically(path, *bitmap);
    return written ? std::error_code() : written.error();
}

ColourValue QtPlatform::colourUnderPointer() {
    const QPoint position = QCursor::pos();
    if (QScreen* screen = QGuiApplication::screenAt(position)) {
        const QPoint onScreen = position - screen->geometry().topLeft();
        const QPixmap grabbed = screen->grabWindow(0, onScreen.x(), onScreen.y(), 1, 1);
        if (!grabbed.isNull()) return colourOf(grabbed.toImage(), QPoint(0, 0));
    }
    // Where the screen cannot be read (the offscreen platform, some Wayland
    // sessions) the best stand-in is our own window under the pointer, which is
    // what the user clicked on anyway.
    if (QWidget* widget = QApplication::widgetAt(position)) {
        QWidget* window = widget->window();
        const QPoint inWindow = window->mapFromGlobal(position);
        const QPixmap grabbed = window->grab(QRect(inWindow, QSize(1, 1)));
        if (!grabbed.isNull()) return colourOf(grabbed.toImage(), QPoint(0, 0));
    }
    return kBlack;
}

}  // namespace tplforge
