#include "window/browser_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDateTime>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdio>

#include "model/pictures.h"
#include "window/details.h"
#include "window/replace_dialog.h"
#include "window/texture_canvas.h"

namespace tplforge::browse {

// A palette's entries as a grid of squares, transparent ones over a checkerboard.
class PaletteSwatches : public QWidget {
public:
    explicit PaletteSwatches(QWidget* parent = nullptr) : QWidget(parent) {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    void setColours(QVector<QColor> colours) {
        colours_ = std::move(colours);
        updateGeometry();
        update();
    }
    [[nodiscard]] int count() const { return static_cast<int>(colours_.size()); }
    QSize sizeHint() const override { return {16 * kCell, rows() * kCell}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return rowsFor(width) * kCell; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int columns = std::max(1, width() / kCell);
        for (int i = 0; i < colours_.size(); ++i) {
            const QRect cell((i % columns) * kCell, (i / columns) * kCell, kCell - 1, kCell - 1);
            p.fillRect(cell.adjusted(0, 0, -cell.width() / 2, -cell.height() / 2), Qt::white);
            p.fillRect(cell.adjusted(cell.width() / 2, 0, 0, -cell.height() / 2), QColor(204, 204, 204));
            p.fillRect(cell.adjusted(0, cell.height() / 2, -cell.width() / 2, 0), QColor(204, 204, 204));
            p.fillRect(cell.adjusted(cell.width() / 2, cell.height() / 2, 0, 0), Qt::white);
            p.fillRect(cell, colours_[i]);
        }
    }

private:
    static constexpr int kCell = 14;
    [[nodiscard]] int rowsFor(int width) const {
        const int columns = std::max(1, width / kCell);
        return (static_cast<int>(colours_.size()) + columns - 1) / columns;
    }
    [[nodiscard]] int rows() const { return rowsFor(16 * kCell); }
    QVector<QColor> colours_;
};

namespace {

constexpr int kRecentMax = 10;

void report(const char* what) {
    std::printf("%s %lld\n", what, static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stdout);
}

QString htmlEscaped(const QString& s) { return s.toHtmlEscaped(); }

// A level in the strip, `side` pixels across, over a checkerboard.
QIcon levelIcon(const QImage& level, int side) {
    QPixmap out(side, side);
    out.fill(Qt::transparent);
    if (level.isNull()) return QIcon(out);
    // Small levels drawn large with their texels as squares; large ones smoothly shrunk.
    const bool small = level.width() <= side && level.height() <= side;
    const QImage scaled =
        level.scaled(side, side, Qt::KeepAspectRatio, small ? Qt::FastTransformation : Qt::SmoothTransformation);
    QPainter p(&out);
    const QRect area((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled.width(), scaled.height());
    for (int y = area.top(); y <= area.bottom(); y += 6)
        for (int x = area.left(); x <= area.right(); x += 6)
            p.fillRect(QRect(x, y, 6, 6).intersected(area),
                       ((x - area.left()) / 6 + (y - area.top()) / 6) % 2 ? QColor(204, 204, 204) : Qt::white);
    p.drawImage(area, scaled);
    return QIcon(out);
}

}  // namespace

BrowserWindow::BrowserWindow(QWidget* parent) : QMainWindow(parent) {
    setAcceptDrops(true);
    pool_.setMaxThreadCount(1);
    work_.setMaxThreadCount(1);
    model_ = new BrowseModel(this);
    proxy_ = new RowFilter(this);
    proxy_->setSourceModel(model_);

    filter_ = new QLineEdit;
    filter_->setPlaceholderText(tr("Filter: name, format, size (Ctrl+F)"));
    filter_->setClearButtonEnabled(true);
    tree_ = new QTreeView;
    tree_->setModel(proxy_);
    tree_->setIconSize(QSize(model_->thumbnailSide(), model_->thumbnailSide()));
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(BrowseModel::NameColumn, QHeaderView::Stretch);
    for (int column : {BrowseModel::SizeColumn, BrowseModel::FormatColumn, BrowseModel::LevelsColumn})
        tree_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    tree_->setAllColumnsShowFocus(true);
    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(filter_);
    leftLayout->addWidget(tree_);

    canvas_ = new TextureCanvas;
    canvas_->setMessage(tr("Open a texture file, an archive or a folder (Ctrl+O), or drop files here."));
    levels_ = new QListWidget;
    levels_->setViewMode(QListView::IconMode);
    levels_->setFlow(QListView::LeftToRight);
    levels_->setWrapping(false);
    levels_->setMovement(QListView::Static);
    levels_->setIconSize(QSize(96, 96));
    levels_->setFixedHeight(96 + 48);
    levels_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* middle = new QWidget;
    auto* middleLayout = new QVBoxLayout(middle);
    middleLayout->setContentsMargins(0, 0, 0, 0);
    middleLayout->addWidget(canvas_, 1);
    middleLayout->addWidget(levels_);

    details_ = new QTextBrowser;
    details_->setOpenLinks(false);
    swatches_ = new PaletteSwatches;
    paletteLabel_ = new QLabel;
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(details_, 2);
    rightLayout->addWidget(paletteLabel_);
    // Up to 16 384 entries (C14X2): the swatches scroll.
    auto* swatchArea = new QScrollArea;
    swatchArea->setWidget(swatches_);
    swatchArea->setWidgetResizable(true);
    swatchArea->setFrameShape(QFrame::NoFrame);
    swatchArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rightLayout->addWidget(swatchArea, 1);

    auto* split = new QSplitter;
    split->addWidget(left);
    split->addWidget(middle);
    split->addWidget(right);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setStretchFactor(2, 0);
    split->setSizes({430, 520, 330});
    setCentralWidget(split);

    zoomLabel_ = new QLabel;
    progress_ = new QProgressBar;
    progress_->setMaximumWidth(200);
    progress_->hide();
    cancel_ = new QToolButton;
    cancel_->setText(tr("Cancel"));
    cancel_->hide();
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(cancel_);
    statusBar()->addPermanentWidget(zoomLabel_);

    makeActions();
    makeMenus();
    resize(1280, 800);
    setWindowTitle(tr("tplforge texture browser"));

    prompts_.unsaved = [this](const QStringList& files) {
        QMessageBox box(QMessageBox::Warning, tr("Unsaved changes"),
                        tr("These files have replacements that are not saved:\n%1").arg(files.join(QLatin1Char('\n'))),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Save);
        const int answer = box.exec();
        return answer == QMessageBox::Save      ? UnsavedAnswer::Save
               : answer == QMessageBox::Discard ? UnsavedAnswer::Discard
                                                : UnsavedAnswer::Cancel;
    };
    // Qt's own dialogs: their file-name field has the focus, so a typed path and Return take it.
    prompts_.openFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("Open a texture file or an archive"), {}, {}, nullptr,
                                            QFileDialog::DontUseNativeDialog);
    };
    prompts_.openFolder = [this] {
        return QFileDialog::getExistingDirectory(this, tr("Open a folder"), {},
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    };
    prompts_.pictureFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("Replace with a picture"), {},
                                            tr("Pictures (*.png *.tga *.bmp *.gif *.jpg *.jpeg *.webp *.tif *.tiff);;All files (*)"),
                                            nullptr, QFileDialog::DontUseNativeDialog);
    };
    prompts_.saveAsFile = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, tr("Save as"), suggested, {}, nullptr,
                                            QFileDialog::DontUseNativeDialog);
    };
    prompts_.exportFolder = [this] {
        return QFileDialog::getExistingDirectory(this, tr("Export to a folder"), {},
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    };
    prompts_.problem = [this](const QString& message) { QMessageBox::warning(this, tr("tplforge"), message); };
    prompts_.replace = [](ReplaceDialog& dialog) { return dialog.exec() == QDialog::Accepted; };

    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& typed) {
        proxy_->setWords(typed);
        if (!typed.isEmpty()) tree_->expandAll();
    });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now) { showRow(proxy_->mapToSource(now)); });
    connect(model_, &BrowseModel::selectRequested, this, &BrowserWindow::select);
    connect(model_, &BrowseModel::loadingStarted, this, [this] {
        progress_->setRange(0, 0);
        progress_->show();
        cancel_->show();
    });
    connect(model_, &BrowseModel::progress, this, [this](int done, int total) {
        progress_->setRange(0, std::max(total, 1));
        progress_->setValue(done);
    });
    connect(model_, &BrowseModel::loadingFinished, this, &BrowserWindow::finishLoading);
    connect(cancel_, &QToolButton::clicked, this, [this] {
        model_->cancelLoading();
        if (workCancel_) workCancel_->store(true);
    });
    connect(model_, &BrowseModel::sourceChanged, this, [this](int source) {
        const QModelIndex at = current();
        const Node* n = model_->node(at);
        if (n && static_cast<int>(n->source) == source) showRow(at);
        updateActions();
    });
    connect(model_, &BrowseModel::undoStackChanged, this, &BrowserWindow::updateActions);
    connect(canvas_, &TextureCanvas::zoomChanged, this,
            [this](double zoom) { zoomLabel_->setText(QStringLiteral("%1 %").arg(zoom * 100, 0, 'f', zoom < 1 ? 1 : 0)); });
    connect(canvas_, &TextureCanvas::pictureDropped, this, &BrowserWindow::replaceWith);
    connect(canvas_, &TextureCanvas::drawn, this, [this] {
        if (benchmark_ && !drawReported_) {
            drawReported_ = true;
            report("first-texture-drawn");
            // A folder's first file may be drawn before the last is listed.
            if (treeReported_) QTimer::singleShot(0, qApp, &QApplication::quit);
        }
    });
    connect(levels_, &QListWidget::currentRowChanged, this, &BrowserWindow::showLevel);
    updateActions();
}

BrowserWindow::~BrowserWindow() {
    ++showGeneration_;
    if (workCancel_) workCancel_->store(true);
    pool_.clear();
    pool_.waitForDone();
    work_.waitForDone();
}

QAction* BrowserWindow::action(const QString& name) const { return findChild<QAction*>(name); }

void BrowserWindow::makeActions() {
    const auto make = [this](const char* name, const QString& text, const QKeySequence& keys, auto slot) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!keys.isEmpty()) a->setShortcut(keys);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };
    make("open", tr("&Open…"), QKeySequence::Open, [this] { openFile(); });
    make("openFolder", tr("Open &Folder…"), QKeySequence(tr("Ctrl+Shift+O")), [this] { openFolder(); });
    make("save", tr("&Save"), QKeySequence::Save, [this] { saveAll(); });
    make("saveAs", tr("Save &As…"), QKeySequence(tr("Ctrl+Shift+S")), [this] { saveAs(); });
    make("export", tr("&Export…"), QKeySequence(tr("Ctrl+E")), [this] { exportSelection(); });
    make("quit", tr("&Quit"), QKeySequence(tr("Ctrl+Q")), [this] { close(); });
    make("undo", tr("&Undo"), QKeySequence::Undo, [this] { model_->undo(); });
    make("redo", tr("&Redo"), QKeySequence(tr("Ctrl+Shift+Z")), [this] { model_->redo(); });
    make("replace", tr("&Replace…"), QKeySequence(tr("Ctrl+R")), [this] { replaceSelected(); });
    make("copyPath", tr("&Copy Path"), QKeySequence(tr("Ctrl+Shift+C")), [this] { copyPath(); });
    make("find", tr("&Filter…"), QKeySequence::Find, [this] {
        filter_->setFocus();
        filter_->selectAll();
    });
    make("zoomIn", tr("Zoom &In"), QKeySequence::ZoomIn, [this] { canvas_->zoomIn(); });
    make("zoomOut", tr("Zoom &Out"), QKeySequence::ZoomOut, [this] { canvas_->zoomOut(); });
    make("actualSize", tr("&Actual Size"), QKeySequence(tr("Ctrl+0")), [this] { canvas_->actualSize(); });
    make("fit", tr("&Fit in Window"), QKeySequence(tr("Ctrl+9")), [this] { canvas_->fit(); });
    make("previousLevel", tr("&Previous Level"), QKeySequence(tr("Ctrl+[")),
         [this] { levels_->setCurrentRow(std::max(0, levels_->currentRow() - 1)); });
    make("nextLevel", tr("&Next Level"), QKeySequence(tr("Ctrl+]")),
         [this] { levels_->setCurrentRow(std::min(levels_->count() - 1, levels_->currentRow() + 1)); });
    const struct {
        const char* name;
        QString text;
        const char* keys;
    } channels[] = {{"red", tr("&Red"), "Ctrl+1"},
                    {"green", tr("&Green"), "Ctrl+2"},
                    {"blue", tr("&Blue"), "Ctrl+3"},
                    {"alpha", tr("A&lpha"), "Ctrl+4"},
                    {"alphaGrey", tr("Alpha Alone as &Grey"), "Ctrl+5"}};
    for (const auto& c : channels) {
        QAction* a = make(c.name, c.text, QKeySequence(QString::fromLatin1(c.keys)), [this] { channelsChanged(); });
        a->setCheckable(true);
        a->setChecked(std::string_view(c.name) != "alphaGrey");
    }
    make("about", tr("&About"), QKeySequence(), [this] {
        QMessageBox::about(this, tr("About tplforge-browse"),
                           tr("tplforge-browse shows every texture of GameCube and Wii files, archives and folders, "
                              "and replaces them with pictures."));
    });
}

void BrowserWindow::makeMenus() {
    fileMenu_ = menuBar()->addMenu(tr("&File"));
    fileMenu_->addAction(action(QStringLiteral("open")));
    fileMenu_->addAction(action(QStringLiteral("openFolder")));
    recentMenu_ = fileMenu_->addMenu(tr("Open &Recent"));
    connect(recentMenu_, &QMenu::aboutToShow, this, &BrowserWindow::fillRecent);
    fileMenu_->addSeparator();
    fileMenu_->addAction(action(QStringLiteral("save")));
    fileMenu_->addAction(action(QStringLiteral("saveAs")));
    fileMenu_->addAction(action(QStringLiteral("export")));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action(QStringLiteral("quit")));

    editMenu_ = menuBar()->addMenu(tr("&Edit"));
    for (const char* name : {"undo", "redo", "", "replace", "copyPath", "find"}) {
        if (!*name)
            editMenu_->addSeparator();
        else
            editMenu_->addAction(action(QString::fromLatin1(name)));
    }

    viewMenu_ = menuBar()->addMenu(tr("&View"));
    for (const char* name : {"zoomIn", "zoomOut", "actualSize", "fit", "", "previousLevel", "nextLevel", "", "red", "green",
                             "blue", "alpha", "alphaGrey"}) {
        if (!*name)
            viewMenu_->addSeparator();
        else
            viewMenu_->addAction(action(QString::fromLatin1(name)));
    }
    backgroundMenu_ = viewMenu_->addMenu(tr("&Background"));
    const struct {
        QString text;
        QColor colour;
    } backgrounds[] = {{tr("&Checkerboard"), QColor()}, {tr("&Black"), Qt::black},     {tr("&White"), Qt::white},
                       {tr("&Grey"), QColor(128, 128, 128)}, {tr("&Magenta"), Qt::magenta}};
    auto* group = new QActionGroup(this);
    for (const auto& b : backgrounds) {
        QAction* a = backgroundMenu_->addAction(b.text, this, [this, colour = b.colour] { setBackground(colour); });
        a->setCheckable(true);
        a->setChecked(!b.colour.isValid());
        group->addAction(a);
    }
    QAction* chosen = backgroundMenu_->addAction(tr("C&hoose…"), this, [this] {
        const QColor colour = QColorDialog::getColor(Qt::black, this, tr("Background"));
        if (colour.isValid()) setBackground(colour);
    });
    chosen->setCheckable(true);
    group->addAction(chosen);

    helpMenu_ = menuBar()->addMenu(tr("&Help"));
    helpMenu_->addAction(action(QStringLiteral("about")));

    auto* bar = addToolBar(tr("Main"));
    bar->setObjectName(QStringLiteral("mainToolBar"));
    for (const char* name : {"open", "save", "", "undo", "redo", "replace", "export", "", "zoomOut", "zoomIn",
                             "actualSize", "fit", "", "red", "green", "blue", "alpha", "alphaGrey"}) {
        if (!*name)
            bar->addSeparator();
        else
            bar->addAction(action(QString::fromLatin1(name)));
    }
}

void BrowserWindow::setBackground(const QColor& colour) { canvas_->setBackground(colour); }

void BrowserWindow::channelsChanged() {
    Channels c;
    c.red = action(QStringLiteral("red"))->isChecked();
    c.green = action(QStringLiteral("green"))->isChecked();
    c.blue = action(QStringLiteral("blue"))->isChecked();
    c.alpha = action(QStringLiteral("alpha"))->isChecked();
    c.alphaAsGrey = action(QStringLiteral("alphaGrey"))->isChecked();
    canvas_->setChannels(c);
}

QModelIndex BrowserWindow::current() const { return proxy_->mapToSource(tree_->currentIndex()); }

void BrowserWindow::select(const QModelIndex& modelIndex) {
    QModelIndex at = proxy_->mapFromSource(modelIndex);
    if (!at.isValid()) {
        // Hidden by the filter: the filter goes.
        filter_->clear();
        at = proxy_->mapFromSource(modelIndex);
    }
    const Node* n = model_->node(modelIndex);
    // A file, member or folder named at start shows its first texture.
    if (n && n->kind != Node::Kind::Texture) {
        std::vector<const Node*> below;
        texturesBelow(*n, below);
        if (!below.empty()) {
            tree_->expand(at);
            at = proxy_->mapFromSource(model_->indexOf(below.front()));
        }
    }
    for (QModelIndex up = at.parent(); up.isValid(); up = up.parent()) tree_->expand(up);
    tree_->setCurrentIndex(at);
    tree_->scrollTo(at);
}

bool BrowserWindow::askToKeepChanges() {
    if (!model_->document().dirty()) return false;
    QStringList files;
    for (std::size_t s : model_->document().dirtySources())
        files << QString::fromStdString(model_->document().source(s).diskPath);
    switch (prompts_.unsaved(files)) {
        case UnsavedAnswer::Save: return !saveAll();
        case UnsavedAnswer::Discard: return false;
        case UnsavedAnswer::Cancel: return true;
    }
    return true;
}

bool BrowserWindow::openPaths(const QStringList& paths) {
    if (paths.isEmpty() || askToKeepChanges()) return false;
    ++showGeneration_;
    treeReported_ = drawReported_ = false;
    model_->open(paths);
    addRecent(paths);
    setWindowTitle(tr("%1 – tplforge texture browser").arg(QFileInfo(paths.front()).fileName()));
    return true;
}

void BrowserWindow::finishLoading() {
    progress_->hide();
    cancel_->hide();
    const int files = static_cast<int>(model_->document().sources().size());
    statusBar()->showMessage(tr("Files open: %n", nullptr, files), 4000);
    if (files == 1) tree_->expand(proxy_->mapFromSource(model_->sourceRow(0)));
    if (benchmark_ && !treeReported_) {
        treeReported_ = true;
        tree_->viewport()->repaint();
        report("tree-shown");
        if (drawReported_) QTimer::singleShot(0, qApp, &QApplication::quit);
    }
}

void BrowserWindow::openFile() {
    const QString path = prompts_.openFile();
    if (!path.isEmpty()) openPaths({path});
}

void BrowserWindow::openFolder() {
    const QString path = prompts_.openFolder();
    if (!path.isEmpty()) openPaths({path});
}

void BrowserWindow::addRecent(const QStringList& paths) {
    QSettings settings;
    QStringList recent = settings.value(QStringLiteral("recent")).toStringList();
    for (const QString& path : paths) {
        const QString full = QFileInfo(path).absoluteFilePath();
        recent.removeAll(full);
        recent.prepend(full);
    }
    while (recent.size() > kRecentMax) recent.removeLast();
    settings.setValue(QStringLiteral("recent"), recent);
}

void BrowserWindow::fillRecent() {
    recentMenu_->clear();
    const QStringList recent = QSettings().value(QStringLiteral("recent")).toStringList();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        recentMenu_->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(path), this, [this, path] { openPaths({path}); });
    }
    if (recent.isEmpty()) recentMenu_->addAction(tr("No recent files"))->setEnabled(false);
}

void BrowserWindow::showRow(const QModelIndex& modelIndex) {
    const std::uint64_t generation = ++showGeneration_;
    levels_->clear();
    levelImages_.clear();
    swatches_->setColours({});
    paletteLabel_->clear();
    const Node* n = model_->node(modelIndex);
    updateActions();
    if (!n) {
        shownGeneration_ = generation;
        details_->clear();
        return;
    }
    if (n->kind == Node::Kind::Directory) {
        shownGeneration_ = generation;
        details_->setHtml(QStringLiteral("<p><b>%1</b></p>").arg(htmlEscaped(QString::fromStdString(n->path))));
        canvas_->setPicture({});
        canvas_->setMessage(tr("Select a texture."));
        return;
    }
    const Source& source = model_->document().source(n->source);
    const TextureRef* t = model_->texture(modelIndex);
    if (!t) {
        shownGeneration_ = generation;
        QString html = QStringLiteral("<p><b>%1</b></p>").arg(htmlEscaped(QString::fromStdString(source.diskPath)));
        if (!n->path.empty()) html += QStringLiteral("<p>%1</p>").arg(htmlEscaped(QString::fromStdString(n->path)));
        if (!n->problem.empty())
            html += QStringLiteral("<p style='color:#b41e1e'>%1</p>").arg(htmlEscaped(QString::fromStdString(n->problem)));
        details_->setHtml(html);
        canvas_->setPicture({});
        canvas_->setMessage(n->problem.empty() ? tr("Select a texture.") : QString::fromStdString(n->problem));
        return;
    }
    QString html = QStringLiteral("<table cellspacing='2'>");
    for (const auto& [label, value] : detailsOf(*t, *source.current, source.diskPath))
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(htmlEscaped(label), htmlEscaped(value));
    html += QStringLiteral("</table>");
    if (model_->document().edited(n->source, n->path)) html += QStringLiteral("<p><i>%1</i></p>").arg(tr("Replaced, not saved yet."));
    details_->setHtml(html);
    if (t->view.palette) {
        const QVector<QColor> colours = paletteColours(*t->view.palette);
        swatches_->setColours(colours);
        paletteLabel_->setText(tr("Palette entries: %n", nullptr, static_cast<int>(colours.size())));
    }
    canvas_->setMessage(tr("Decoding…"));
    // Every level decoded away from the window's thread; the answer is dropped
    // when another row was chosen meanwhile.
    pool_.clear();
    pool_.start([this, generation, file = source.current, k = n->texture] {
        const TextureRef& texture = file->textures()[k];
        QVector<QImage> images;
        QString problem;
        for (unsigned level = 0; level < texture.view.levels.size(); ++level) {
            auto decoded = texture.decode(level);
            if (!decoded) {
                problem = QString::fromStdString(describe(decoded.error()));
                break;
            }
            images.append(toQImage(*decoded));
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, images, problem] {
                if (generation != showGeneration_) return;
                shownGeneration_ = generation;
                levelImages_ = images;
                if (images.isEmpty()) {
                    canvas_->setPicture({});
                    canvas_->setMessage(problem);
                    return;
                }
                for (int level = 0; level < images.size(); ++level) {
                    auto* item = new QListWidgetItem(levelIcon(images[level], 96),
                                                     tr("%1: %2 × %3").arg(level).arg(images[level].width()).arg(images[level].height()));
                    item->setToolTip(tr("Level %1").arg(level));
                    levels_->addItem(item);
                }
                canvas_->setPicture(images.front());
                const QSignalBlocker quiet(levels_);
                levels_->setCurrentRow(0);
            },
            Qt::QueuedConnection);
    });
}

void BrowserWindow::showLevel(int level) {
    if (level < 0 || level >= levelImages_.size()) return;
    canvas_->setPicture(levelImages_[level]);
}

void BrowserWindow::updateActions() {
    const Document& d = model_->document();
    action(QStringLiteral("undo"))->setEnabled(d.canUndo());
    action(QStringLiteral("redo"))->setEnabled(d.canRedo());
    action(QStringLiteral("save"))->setEnabled(d.dirty());
    const QModelIndex at = current();
    action(QStringLiteral("replace"))->setEnabled(model_->texture(at) != nullptr);
    action(QStringLiteral("saveAs"))->setEnabled(model_->fileOf(at) != nullptr);
    action(QStringLiteral("export"))->setEnabled(!d.sources().empty());
    action(QStringLiteral("copyPath"))->setEnabled(at.isValid());
    setWindowModified(d.dirty());
    if (!windowTitle().contains(QStringLiteral("[*]")))
        setWindowTitle(windowTitle() + QStringLiteral("[*]"));
}

void BrowserWindow::replaceSelected() {
    if (!model_->texture(current())) {
        statusBar()->showMessage(tr("Select a texture to replace."), 4000);
        return;
    }
    const QString path = prompts_.pictureFile();
    if (!path.isEmpty()) replaceWith(path);
}

void BrowserWindow::replaceWith(const QString& picturePath) {
    const QModelIndex at = current();
    const TextureRef* t = model_->texture(at);
    if (!t) {
        statusBar()->showMessage(tr("Select a texture to replace."), 4000);
        return;
    }
    auto picture = readPicture(picturePath.toStdString());
    if (!picture) {
        prompts_.problem(tr("%1: %2").arg(picturePath, QString::fromStdString(picture.error())));
        return;
    }
    const Node* n = model_->node(at);
    ReplaceDialog dialog(model_->document().base(n->source), *t, std::move(picture).value(),
                         QFileInfo(picturePath).fileName(), this);
    if (!prompts_.replace(dialog)) return;
    auto step = dialog.takeStep();
    if (!step) return;
    const std::size_t changed = step->changed;
    if (!model_->commit(std::move(*step))) {
        prompts_.problem(tr("The file changed while the picture was encoded; replace it again."));
        return;
    }
    statusBar()->showMessage(changed == 0 ? tr("The texture already held that picture.") : tr("Replaced; Ctrl+S saves."), 4000);
}

bool BrowserWindow::saveAll() {
    int saved = 0;
    bool ok = true;
    for (std::size_t s : model_->document().dirtySources()) {
        const auto result = model_->save(s);
        if (result) {
            ++saved;
        } else if (result.error() != SaveError::NothingToSave) {
            prompts_.problem(tr("Not saved: %1").arg(QString::fromStdString(model_->document().lastSaveProblem())));
            ok = false;
        }
    }
    statusBar()->showMessage(saved == 0 ? tr("Nothing to save.") : tr("Files saved: %n.", nullptr, saved), 4000);
    updateActions();
    return ok;
}

void BrowserWindow::saveAs() {
    const Node* n = model_->node(current());
    if (!n || n->kind == Node::Kind::Directory) return;
    const Source& source = model_->document().source(n->source);
    const QString path = prompts_.saveAsFile(QString::fromStdString(source.diskPath));
    if (path.isEmpty()) return;
    const auto result = model_->save(n->source, path.toStdString());
    if (!result)
        prompts_.problem(tr("Not saved: %1").arg(QString::fromStdString(model_->document().lastSaveProblem())));
    else
        statusBar()->showMessage(tr("Saved as %1.").arg(path), 4000);
    updateActions();
}

void BrowserWindow::copyPath() {
    const QModelIndex at = current();
    const Node* n = model_->node(at);
    if (!n) return;
    if (n->kind == Node::Kind::Directory) {
        QApplication::clipboard()->setText(QString::fromStdString(n->path));
        return;
    }
    const std::string& disk = model_->document().source(n->source).diskPath;
    // A path every tplforge tool opens: the file, then the path inside it.
    const QString path = QString::fromStdString(n->path.empty() || n->kind == Node::Kind::Source ? disk : disk + "/" + n->path);
    QApplication::clipboard()->setText(path);
    statusBar()->showMessage(tr("Copied %1").arg(path), 4000);
}

void BrowserWindow::exportSelection() {
    const QString folder = prompts_.exportFolder();
    if (folder.isEmpty()) return;
    // What is below the selected row, or everything when nothing is selected.
    std::vector<std::pair<std::size_t, std::size_t>> chosen;  // source, texture
    std::vector<const Node*> leaves;
    if (const Node* n = model_->node(current()))
        texturesBelow(*n, leaves);
    else
        for (std::size_t s = 0; s < model_->document().sources().size(); ++s)
            texturesBelow(*model_->node(model_->sourceRow(s)), leaves);
    for (const Node* leaf : leaves) chosen.emplace_back(leaf->source, leaf->texture);
    std::vector<Source> sources = model_->document().sources();  // shared files, cheap to copy
    runInBackground(tr("Exporting"), [folder = folder.toStdString(), chosen, sources](const auto& progress) {
        int done = 0;
        for (const auto& [s, k] : chosen) {
            if (!progress(done++, static_cast<int>(chosen.size()))) return tr("Export cancelled.");
            const auto written = exportTexture(folder, sources[s], k);
            if (!written) return QString::fromStdString(written.error());
        }
        return tr("Textures exported: %n.", nullptr, static_cast<int>(chosen.size()));
    });
}

void BrowserWindow::runInBackground(const QString& what,
                                    std::function<QString(const std::function<bool(int, int)>&)> work) {
    workCancel_ = std::make_shared<std::atomic<bool>>(false);
    progress_->setRange(0, 0);
    progress_->show();
    cancel_->show();
    statusBar()->showMessage(what);
    work_.start([this, work = std::move(work), cancel = workCancel_] {
        const auto progress = [this, cancel](int done, int total) {
            QMetaObject::invokeMethod(this, [this, done, total] {
                progress_->setRange(0, std::max(1, total));
                progress_->setValue(done);
            }, Qt::QueuedConnection);
            return !cancel->load();
        };
        const QString message = work(progress);
        QMetaObject::invokeMethod(this, [this, message] {
            progress_->hide();
            cancel_->hide();
            statusBar()->showMessage(message, 6000);
        }, Qt::QueuedConnection);
    });
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
    if (askToKeepChanges()) {
        event->ignore();
        return;
    }
    event->accept();
}

void BrowserWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void BrowserWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    openPaths(paths);
}

}  // namespace tplforge::browse
