// The browser's window: the tree with its filter on the left, the texture in
// the middle with its levels below, details and palette on the right; every
// action in the menus with its shortcut. Dialogs go through Prompts, which the
// tests replace.
#pragma once

#include <QMainWindow>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>

#include "model/browse_model.h"
#include "model/filter.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QTextBrowser;
class QToolButton;
class QTreeView;

namespace tplforge::browse {

class ReplaceDialog;
class TextureCanvas;
class PaletteSwatches;

enum class UnsavedAnswer { Save, Discard, Cancel };

struct Prompts {
    std::function<UnsavedAnswer(const QStringList& files)> unsaved;
    std::function<QString()> openFile;
    std::function<QString()> openFolder;
    std::function<QString()> pictureFile;
    std::function<QString(const QString& suggested)> saveAsFile;
    std::function<QString()> exportFolder;
    std::function<void(const QString& message)> problem;
    // Shows the replace dialog; true when the user took the picture.
    std::function<bool(ReplaceDialog& dialog)> replace;
};

class BrowserWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit BrowserWindow(QWidget* parent = nullptr);
    ~BrowserWindow() override;

    [[nodiscard]] BrowseModel& model() { return *model_; }
    [[nodiscard]] Prompts& prompts() { return prompts_; }
    [[nodiscard]] QTreeView* tree() const { return tree_; }
    [[nodiscard]] TextureCanvas* canvas() const { return canvas_; }
    [[nodiscard]] QListWidget* levels() const { return levels_; }
    [[nodiscard]] QTextBrowser* details() const { return details_; }
    [[nodiscard]] QLineEdit* filter() const { return filter_; }
    [[nodiscard]] QAction* action(const QString& name) const;  // by objectName

    // Asks about unsaved changes first; false when the user kept them open.
    bool openPaths(const QStringList& paths);
    // The selected row, in the model's terms (invalid when none).
    [[nodiscard]] QModelIndex current() const;
    void select(const QModelIndex& modelIndex);
    // Replace the selected texture with this picture file (the dialog shows).
    void replaceWith(const QString& picturePath);
    bool saveAll();
    // Prints when the tree is shown and the first texture drawn, then quits.
    void setBenchmark(bool on) { benchmark_ = on; }
    // Done decoding the texture shown (tests).
    [[nodiscard]] bool showing() const { return showGeneration_ == shownGeneration_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void makeActions();
    void makeMenus();
    bool askToKeepChanges();
    void showRow(const QModelIndex& modelIndex);
    void showLevel(int level);
    void updateActions();
    void exportSelection();
    void saveAs();
    void openFile();
    void openFolder();
    void replaceSelected();
    void copyPath();
    void addRecent(const QStringList& paths);
    void fillRecent();
    void setBackground(const QColor& colour);
    void channelsChanged();
    void finishLoading();
    void runInBackground(const QString& what, std::function<QString(const std::function<bool(int, int)>&)> work);

    BrowseModel* model_;
    RowFilter* proxy_;
    Prompts prompts_;
    QTreeView* tree_;
    QLineEdit* filter_;
    TextureCanvas* canvas_;
    QListWidget* levels_;
    QTextBrowser* details_;
    PaletteSwatches* swatches_;
    QLabel* paletteLabel_;
    QLabel* zoomLabel_;
    QProgressBar* progress_;
    QToolButton* cancel_;
    QMenu* recentMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QMenu* backgroundMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QThreadPool pool_;  // decoding the texture shown
    QThreadPool work_;  // exports
    std::uint64_t showGeneration_ = 0, shownGeneration_ = 0;
    QVector<QImage> levelImages_;
    std::shared_ptr<std::atomic<bool>> workCancel_;
    bool benchmark_ = false, treeReported_ = false, drawReported_ = false;
};

}  // namespace tplforge::browse
