// The tree of everything open, as Qt views show it: one row a file, its members
// as folders, its textures with thumbnails decoded on worker threads. Files are
// read on a worker too, so a large archive or folder shows its rows as they come.
// Edits go through the document's undo stack; the rows of a file follow it.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <memory>

#include "model/document.h"
#include "model/tree.h"

namespace tplforge::browse {

class BrowseModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, FormatColumn, LevelsColumn, ColumnCount };
    enum Role {
        KindRole = Qt::UserRole + 1,  // Node::Kind as int
        PathRole,                      // the path inside the file
        FilterTextRole,                // what the filter box matches
        ProblemRole,
    };

    explicit BrowseModel(QObject* parent = nullptr);
    ~BrowseModel() override;

    // Files, paths into files, or folders, read on a worker thread; `add` keeps
    // what is open. The first path's texture (or member) is selected once read.
    void open(const QStringList& paths, bool add = false);
    void clear();
    [[nodiscard]] bool loading() const { return loading_; }
    void cancelLoading();
    // Blocks until the open in progress is done (tests and the benchmark).
    void waitForLoading();

    [[nodiscard]] Document& document() { return document_; }
    [[nodiscard]] const Document& document() const { return document_; }
    [[nodiscard]] const Node* node(const QModelIndex& index) const;
    [[nodiscard]] QModelIndex indexOf(const Node* node, int column = 0) const;
    // The texture a row shows, as the file is now; null for other rows.
    [[nodiscard]] const TextureRef* texture(const QModelIndex& index) const;
    [[nodiscard]] FilePtr fileOf(const QModelIndex& index) const;
    // The row of a path inside a source (texture, member, folder; "" the file).
    [[nodiscard]] QModelIndex find(std::size_t source, const std::string& path) const;
    [[nodiscard]] QModelIndex sourceRow(std::size_t source) const;

    // The undo stack, with the rows following.
    bool commit(Step step);
    bool undo();
    bool redo();
    [[nodiscard]] Expected<void, SaveError> save(std::size_t source, const std::string& to = {});

    void setThumbnailSide(int side) { thumbnailSide_ = side; }
    [[nodiscard]] int thumbnailSide() const { return thumbnailSide_; }
    [[nodiscard]] bool hasThumbnail(const QModelIndex& index) const;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void loadingStarted();
    void progress(int done, int total);
    void loadingFinished();
    // Once the first path is read: the row it named, to select.
    void selectRequested(const QModelIndex& index);
    // A file's textures changed (a replacement, undone or redone, or saved).
    void sourceChanged(int source);
    void undoStackChanged();

private:
    struct Batch;
    void receive(std::uint64_t load, std::shared_ptr<Batch> batch);
    void addSource(Opened opened, bool select);
    Node& directoryFor(const std::string& label, const std::string& diskPath);
    void refresh(std::size_t source);
    void requestThumbnail(const Node* node) const;
    void thumbnailReady(std::size_t source, std::size_t texture, std::uint64_t generation, const QImage& image);
    [[nodiscard]] static quint64 thumbnailKey(std::size_t source, std::size_t texture) {
        return (quint64(source) << 32) | quint64(texture);
    }

    Document document_;
    Node root_;
    std::vector<Node*> sourceNodes_;  // by source
    std::vector<std::vector<const Node*>> textureNodes_;  // per source, by texture index
    QThreadPool loadPool_;
    mutable QThreadPool thumbnailPool_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::uint64_t load_ = 0;
    bool loading_ = false;
    bool selectPending_ = false;
    int thumbnailSide_ = 32;
    struct Thumbnail {
        std::uint64_t generation = 0;
        QPixmap pixmap;
    };
    QHash<quint64, Thumbnail> thumbnails_;
    mutable QSet<quint64> pending_;
};

// A picture of a decoded level, as Qt holds it (straight alpha).
[[nodiscard]] QImage toQImage(const Image& picture);
// A texture's small picture over a checkerboard, `side` pixels at most each way.
[[nodiscard]] QImage thumbnailOf(const TextureRef& texture, int side);

}  // namespace tplforge::browse
