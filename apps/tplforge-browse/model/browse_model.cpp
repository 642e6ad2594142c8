#include "model/browse_model.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFont>
#include <QPainter>

#include <algorithm>

#include "tplforge/format.h"

namespace tplforge::browse {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

QString formatText(const TextureRef& t) {
    QString out = QString::fromLatin1(formatName(static_cast<std::uint32_t>(t.view.format)).data());
    if (t.view.palette)
        out += QStringLiteral(" / ") +
               QString::fromLatin1(paletteFormatName(static_cast<std::uint32_t>(t.view.palette->format)).data());
    return out;
}

// The smallest level at least `side` wide or high, so a thumbnail decodes few texels.
unsigned thumbnailLevel(const TextureRef& t, int side) {
    unsigned level = 0;
    for (unsigned k = 1; k < t.view.levels.size(); ++k) {
        const auto w = std::max<std::uint32_t>(1, t.view.width >> k), h = std::max<std::uint32_t>(1, t.view.height >> k);
        if (static_cast<int>(std::max(w, h)) < side) break;
        level = k;
    }
    return level;
}

}  // namespace

QImage toQImage(const Image& picture) {
    if (picture.empty()) return {};
    QImage image(static_cast<int>(picture.width), static_cast<int>(picture.height), QImage::Format_RGBA8888);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const auto row = picture.row(y);
        std::copy(row.begin(), row.end(), image.scanLine(static_cast<int>(y)));
    }
    return image;
}

QImage thumbnailOf(const TextureRef& texture, int side) {
    auto decoded = texture.decode(thumbnailLevel(texture, side));
    QImage out(side, side, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    if (!decoded) return out;
    const QImage picture = toQImage(*decoded);
    const QImage scaled = picture.width() > side || picture.height() > side
                              ? picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                              : picture;
    QPainter p(&out);
    const QRect area((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled.width(), scaled.height());
    const int square = std::max(2, side / 8);
    for (int y = area.top(); y <= area.bottom(); y += square)
        for (int x = area.left(); x <= area.right(); x += square)
            p.fillRect(QRect(x, y, square, square).intersected(area),
                       ((x - area.left()) / square + (y - area.top()) / square) % 2 ? QColor(204, 204, 204) : Qt::white);
    p.drawImage(area, scaled);
    return out;
}

struct BrowseModel::Batch {
    std::vector<Opened> opened;
    int done = 0, total = 0;
    bool finished = false;
};

BrowseModel::BrowseModel(QObject* parent) : QAbstractItemModel(parent) {
    root_.kind = Node::Kind::Folder;
    loadPool_.setMaxThreadCount(1);
    thumbnailPool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

BrowseModel::~BrowseModel() {
    if (cancel_) cancel_->store(true);
    thumbnailPool_.clear();
    loadPool_.waitForDone();
    thumbnailPool_.waitForDone();
}

void BrowseModel::cancelLoading() {
    if (cancel_) cancel_->store(true);
}

void BrowseModel::waitForLoading() {
    while (loading_) {
        loadPool_.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

void BrowseModel::clear() {
    cancelLoading();
    loadPool_.waitForDone();
    thumbnailPool_.clear();
    thumbnailPool_.waitForDone();
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    beginResetModel();
    document_.clear();
    root_.children.clear();
    sourceNodes_.clear();
    textureNodes_.clear();
    thumbnails_.clear();
    pending_.clear();
    loading_ = false;
    endResetModel();
    emit undoStackChanged();
}

void BrowseModel::open(const QStringList& paths, bool add) {
    if (!add) clear();
    cancelLoading();
    loadPool_.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    const std::uint64_t load = ++load_;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    loading_ = true;
    selectPending_ = true;
    emit loadingStarted();
    loadPool_.start([this, load, paths, cancel = cancel_] {
        auto batch = std::make_shared<Batch>();
        QElapsedTimer sinceSent;
        sinceSent.start();
        const auto send = [&](bool finished) {
            batch->finished = finished;
            QMetaObject::invokeMethod(this, [this, load, batch] { receive(load, batch); }, Qt::QueuedConnection);
            const int done = batch->done, total = batch->total;
            batch = std::make_shared<Batch>();
            batch->done = done;
            batch->total = total;
            sinceSent.restart();
        };
        // Folders become their files first, so the progress knows the total.
        std::vector<std::pair<std::string, std::string>> files;  // path, label
        for (const QString& path : paths) {
            const QFileInfo info(path);
            if (info.isDir()) {
                const QDir folder(info.absoluteFilePath());
                for (const std::string& file : textureFilesIn(info.absoluteFilePath().toStdString(), cancel.get()))
                    files.emplace_back(file, folder.relativeFilePath(text(file)).toStdString());
            } else {
                files.emplace_back(path.toStdString(), std::string());
            }
        }
        batch->total = static_cast<int>(files.size());
        for (const auto& [path, label] : files) {
            if (cancel->load()) break;
            Opened opened = openSource(path);
            if (!label.empty()) opened.source.label = label;
            batch->opened.push_back(std::move(opened));
            ++batch->done;
            if (batch->opened.size() == 1 && batch->done == 1) send(false);  // the first file at once
            else if (sinceSent.elapsed() > 50) send(false);
        }
        send(true);
    });
}

void BrowseModel::receive(std::uint64_t load, std::shared_ptr<Batch> batch) {
    if (load != load_) return;
    for (Opened& opened : batch->opened) {
        addSource(std::move(opened), selectPending_);
        selectPending_ = false;
    }
    emit progress(batch->done, batch->total);
    if (batch->finished) {
        loading_ = false;
        emit loadingFinished();
    }
}

// The files of a folder opened sit under its sub-folders, as on disk.
Node& BrowseModel::directoryFor(const std::string& label, const std::string& diskPath) {
    Node* at = &root_;
    std::string below = diskPath.substr(0, diskPath.size() - std::min(diskPath.size(), label.size()));
    std::size_t start = 0;
    for (auto slash = label.find('/'); slash != std::string::npos; start = slash + 1, slash = label.find('/', start)) {
        const std::string name = label.substr(start, slash - start);
        below += (below.empty() || below.back() == '/' ? "" : "/") + name;
        const auto found = std::find_if(at->children.begin(), at->children.end(), [&](const auto& c) {
            return c->kind == Node::Kind::Directory && c->name == name;
        });
        if (found != at->children.end()) {
            at = found->get();
            continue;
        }
        auto made = std::make_unique<Node>();
        made->kind = Node::Kind::Directory;
        made->name = name;
        made->path = below;
        const int row = static_cast<int>(at->children.size());
        beginInsertRows(indexOf(at), row, row);
        at = at->add(std::move(made));
        at->source = kNoSource;
        endInsertRows();
    }
    return *at;
}

void BrowseModel::addSource(Opened opened, bool select) {
    const std::size_t index = document_.sources().size();
    auto node = std::make_unique<Node>();
    node->kind = Node::Kind::Source;
    const auto slash = opened.source.label.rfind('/');
    node->name = slash == std::string::npos ? opened.source.label : opened.source.label.substr(slash + 1);
    node->source = index;
    node->problem = opened.source.problem;
    const FilePtr file = opened.source.current;
    if (file) fillSource(*node, *file);
    std::vector<const Node*> leaves;
    texturesBelow(*node, leaves);
    std::vector<const Node*> byTexture(file ? file->textures().size() : 0, nullptr);
    for (const Node* leaf : leaves) byTexture[leaf->texture] = leaf;

    Node& parent = directoryFor(opened.source.label, opened.source.diskPath);
    const int row = static_cast<int>(parent.children.size());
    beginInsertRows(indexOf(&parent), row, row);
    document_.add(std::move(opened.source));
    Node* added = parent.add(std::move(node));
    added->source = index;
    sourceNodes_.push_back(added);
    textureNodes_.push_back(std::move(byTexture));
    endInsertRows();

    if (select) {
        QModelIndex chosen = find(index, opened.select);
        if (!chosen.isValid()) chosen = sourceRow(index);
        emit selectRequested(chosen);
    }
}

const Node* BrowseModel::node(const QModelIndex& index) const {
    return index.isValid() ? static_cast<const Node*>(index.internalPointer()) : nullptr;
}

QModelIndex BrowseModel::indexOf(const Node* n, int column) const {
    if (!n || n == &root_) return {};
    return createIndex(n->row(), column, const_cast<Node*>(n));
}

QModelIndex BrowseModel::sourceRow(std::size_t source) const {
    return source < sourceNodes_.size() ? indexOf(sourceNodes_[source]) : QModelIndex();
}

QModelIndex BrowseModel::find(std::size_t source, const std::string& path) const {
    if (source >= sourceNodes_.size()) return {};
    if (const Node* n = findPath(*sourceNodes_[source], path)) return indexOf(n);
    // A texture named another way than its path (a number inside a member).
    const FilePtr file = document_.source(source).current;
    if (!file || path.empty()) return {};
    const auto found = file->find(path);
    if (!found) return {};
    const std::size_t k = static_cast<std::size_t>(*found - file->textures().data());
    return k < textureNodes_[source].size() ? indexOf(textureNodes_[source][k]) : QModelIndex();
}

const TextureRef* BrowseModel::texture(const QModelIndex& index) const {
    const Node* n = node(index);
    if (!n || n->kind != Node::Kind::Texture) return nullptr;
    const FilePtr& file = document_.source(n->source).current;
    if (!file || n->texture >= file->textures().size()) return nullptr;
    return &file->textures()[n->texture];
}

FilePtr BrowseModel::fileOf(const QModelIndex& index) const {
    const Node* n = node(index);
    return n && n->source != kNoSource ? document_.source(n->source).current : nullptr;
}

bool BrowseModel::commit(Step step) {
    const std::size_t source = step.source;
    if (!document_.commit(std::move(step))) return false;
    refresh(source);
    return true;
}

bool BrowseModel::undo() {
    const auto source = document_.undo();
    if (source) refresh(*source);
    return source.has_value();
}

bool BrowseModel::redo() {
    const auto source = document_.redo();
    if (source) refresh(*source);
    return source.has_value();
}

Expected<void, SaveError> BrowseModel::save(std::size_t source, const std::string& to) {
    auto saved = document_.save(source, to);
    if (saved) {
        const std::string& label = document_.source(source).label;
        sourceNodes_.at(source)->name = label.substr(label.rfind('/') + 1);
        refresh(source);
    }
    return saved;
}

void BrowseModel::refresh(std::size_t source) {
    // A replacement keeps every texture in its place, so the rows stay and show
    // the new sides, formats and thumbnails.
    for (std::size_t k = 0; k < textureNodes_[source].size(); ++k) thumbnails_.remove(thumbnailKey(source, k));
    const QModelIndex top = sourceRow(source);
    emit dataChanged(top, top.siblingAtColumn(ColumnCount - 1));
    for (const Node* leaf : textureNodes_[source]) {
        if (!leaf) continue;
        emit dataChanged(indexOf(leaf), indexOf(leaf, ColumnCount - 1));
        for (const Node* up = leaf->parent; up && up->kind == Node::Kind::Folder; up = up->parent)
            emit dataChanged(indexOf(up), indexOf(up));
    }
    emit sourceChanged(static_cast<int>(source));
    emit undoStackChanged();
}

bool BrowseModel::hasThumbnail(const QModelIndex& index) const {
    const Node* n = node(index);
    if (!n || n->kind != Node::Kind::Texture) return false;
    const auto it = thumbnails_.constFind(thumbnailKey(n->source, n->texture));
    return it != thumbnails_.constEnd() && it->generation == document_.source(n->source).generation;
}

void BrowseModel::requestThumbnail(const Node* n) const {
    const quint64 key = thumbnailKey(n->source, n->texture);
    if (pending_.contains(key)) return;
    pending_.insert(key);
    const Source& s = document_.source(n->source);
    auto* self = const_cast<BrowseModel*>(this);
    thumbnailPool_.start([self, file = s.current, generation = s.generation, source = n->source, k = n->texture,
                          side = thumbnailSide_] {
        const QImage image = thumbnailOf(file->textures()[k], side);
        QMetaObject::invokeMethod(
            self, [self, source, k, generation, image] { self->thumbnailReady(source, k, generation, image); },
            Qt::QueuedConnection);
    });
}

void BrowseModel::thumbnailReady(std::size_t source, std::size_t texture, std::uint64_t generation, const QImage& image) {
    const quint64 key = thumbnailKey(source, texture);
    pending_.remove(key);
    if (source >= textureNodes_.size() || texture >= textureNodes_[source].size()) return;
    thumbnails_.insert(key, Thumbnail{generation, QPixmap::fromImage(image)});
    const QModelIndex at = indexOf(textureNodes_[source][texture]);
    emit dataChanged(at, at, {Qt::DecorationRole});
}

QModelIndex BrowseModel::index(int row, int column, const QModelIndex& parent) const {
    const Node* up = parent.isValid() ? node(parent) : &root_;
    if (!up || row < 0 || column < 0 || column >= ColumnCount || row >= static_cast<int>(up->children.size())) return {};
    return createIndex(row, column, up->children[static_cast<std::size_t>(row)].get());
}

QModelIndex BrowseModel::parent(const QModelIndex& child) const {
    const Node* n = node(child);
    return n ? indexOf(n->parent) : QModelIndex();
}

int BrowseModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const Node* n = parent.isValid() ? node(parent) : &root_;
    return n ? static_cast<int>(n->children.size()) : 0;
}

int BrowseModel::columnCount(const QModelIndex&) const { return ColumnCount; }

QVariant BrowseModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case NameColumn: return tr("Name");
        case SizeColumn: return tr("Size");
        case FormatColumn: return tr("Format");
        case LevelsColumn: return tr("Levels");
        default: return {};
    }
}

Qt::ItemFlags BrowseModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant BrowseModel::data(const QModelIndex& index, int role) const {
    const Node* n = node(index);
    if (!n) return {};
    const int column = index.column();
    if (role == KindRole) return static_cast<int>(n->kind);
    if (role == PathRole) return text(n->path);
    if (role == ProblemRole) return text(n->problem);
    if (n->kind == Node::Kind::Directory) {
        if (role == Qt::DisplayRole && column == NameColumn) return text(n->name);
        if (role == Qt::ToolTipRole) return text(n->path);
        if (role == FilterTextRole) return text(n->name);
        return {};
    }

    const Source& source = document_.source(n->source);
    switch (n->kind) {
        case Node::Kind::Source:
            if (role == Qt::DisplayRole && column == NameColumn)
                return text(n->name) + (source.dirty() ? QStringLiteral(" *") : QString());
            if (role == Qt::DisplayRole && column == FormatColumn && source.saved)
                return QString::fromLatin1(kindName(source.saved->kind()).data());
            if (role == Qt::DisplayRole && column == FormatColumn) return tr("cannot be read");
            if (role == Qt::ToolTipRole) return source.problem.empty() ? text(source.diskPath) : text(source.problem);
            if (role == Qt::FontRole && source.dirty()) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            if (role == Qt::ForegroundRole && !source.problem.empty()) return QColor(180, 30, 30);
            if (role == FilterTextRole) return text(n->name);
            return {};
        case Node::Kind::Folder:
            if (role == Qt::DisplayRole && column == NameColumn) return text(n->name);
            if (role == Qt::ToolTipRole) return text(n->path);
            if (role == FilterTextRole) return text(n->name);
            return {};
        case Node::Kind::Damaged:
            if (role == Qt::DisplayRole && column == NameColumn) return text(n->name);
            if (role == Qt::DisplayRole && column == FormatColumn) return tr("damaged: %1").arg(text(n->problem));
            if (role == Qt::ToolTipRole) return text(n->problem);
            if (role == Qt::ForegroundRole) return QColor(180, 30, 30);
            if (role == FilterTextRole) return text(n->name) + QLatin1Char(' ') + tr("damaged");
            return {};
        case Node::Kind::Directory: return {};
        case Node::Kind::Texture: break;
    }
    const TextureRef* t = texture(index);
    if (!t) return {};
    const QString size = QStringLiteral("%1 × %2").arg(t->view.width).arg(t->view.height);
    const bool edited = document_.edited(n->source, n->path);
    switch (role) {
        case Qt::DisplayRole:
            if (column == NameColumn) return text(n->name) + (edited ? QStringLiteral(" *") : QString());
            if (column == SizeColumn) return size;
            if (column == FormatColumn) return formatText(*t);
            if (column == LevelsColumn) return static_cast<int>(t->view.levels.size());
            return {};
        case Qt::DecorationRole: {
            if (column != NameColumn) return {};
            const auto it = thumbnails_.constFind(thumbnailKey(n->source, n->texture));
            if (it != thumbnails_.constEnd() && it->generation == source.generation) return it->pixmap;
            requestThumbnail(n);
            if (it != thumbnails_.constEnd()) return it->pixmap;  // the one before, until the new one comes
            QPixmap blank(thumbnailSide_, thumbnailSide_);
            blank.fill(Qt::transparent);
            return blank;
        }
        case Qt::ToolTipRole: return text(n->path);
        case Qt::FontRole:
            if (edited) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case FilterTextRole:
            return text(n->name) + QLatin1Char(' ') + formatText(*t) + QLatin1Char(' ') +
                   QStringLiteral("%1x%2").arg(t->view.width).arg(t->view.height) + QLatin1Char(' ') + size;
        default: return {};
    }
}

}  // namespace tplforge::browse
