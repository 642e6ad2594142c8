// The browser's model on real layouts: the tree's rows against what the library
// lists, paths selecting rows, and replacements through the undo stack saved
// byte for byte as `tplforge-cli replace` writes them.
#include <QSignalSpy>

#include <map>
#include <QTest>

#include "browse/layouts.h"
#include "model/browse_model.h"
#include "model/filter.h"
#include "model/pictures.h"

using namespace tplforge;
using namespace tplforge::browse;
using namespace tplforge::testing;

namespace {

QModelIndex rowNamed(const BrowseModel& model, const std::string& treePath) {
    QModelIndex at;
    std::size_t start = 0;
    while (start < treePath.size()) {
        auto slash = treePath.find('|', start);
        if (slash == std::string::npos) slash = treePath.size();
        const std::string name = treePath.substr(start, slash - start);
        QModelIndex next;
        for (int r = 0; r < model.rowCount(at); ++r)
            if (model.node(model.index(r, 0, at))->name == name) next = model.index(r, 0, at);
        if (!next.isValid()) return {};
        at = next;
        start = slash + 1;
    }
    return at;
}

std::size_t sourceNamed(const Document& d, const std::string& label) {
    for (std::size_t s = 0; s < d.sources().size(); ++s)
        if (d.source(s).label == label) return s;
    return d.sources().size();
}

TextureEdit editOf(const TextureRef& t, const std::string& picture) {
    TextureEdit e;
    e.texture = t.path();
    e.picture = std::move(readPicture(picture)).value();
    e.pictureName = picture;
    return e;
}

}  // namespace

class BrowseModelTest : public QObject {
    Q_OBJECT
    QTemporaryDir scratch_;
    fs::path root_;

    void openFolder(BrowseModel& model) {
        model.open({QString::fromStdString(root_.string())});
        model.waitForLoading();
    }

private slots:
    void init() {
        QVERIFY(scratch_.isValid());
        root_ = fs::path(scratch_.path().toStdString()) / QTest::currentTestFunction();
        fs::remove_all(root_);
        layOut(root_);
    }

    // Every texture the library lists is a row under its members, with its
    // size and format; every damaged member a row with the reader's reason;
    // files of no texture kind left out.
    void treeRowsFollowTheFiles() {
        BrowseModel model;
        openFolder(model);
        const Document& d = model.document();
        QStringList labels;
        for (const Source& s : d.sources()) labels << QString::fromStdString(s.label);
        QCOMPARE(labels, QStringList({"face.tex0", "game.u8", "menu.szs", "model.bdl", "nested.szs", "opening.bnr",
                                      "sub/c8-mip.bti"}));
        int textures = 0;
        for (std::size_t s = 0; s < d.sources().size(); ++s) {
            const FilePtr& file = d.source(s).current;
            QVERIFY2(file, d.source(s).problem.c_str());
            for (const TextureRef& t : file->textures()) {
                const QModelIndex row = model.find(s, t.path());
                QVERIFY2(row.isValid(), t.path().c_str());
                QCOMPARE(model.texture(row), &t);
                QCOMPARE(row.siblingAtColumn(BrowseModel::SizeColumn).data().toString(),
                         QStringLiteral("%1 × %2").arg(t.view.width).arg(t.view.height));
                QVERIFY(row.siblingAtColumn(BrowseModel::FormatColumn)
                            .data()
                            .toString()
                            .startsWith(QString::fromLatin1(formatName(static_cast<std::uint32_t>(t.view.format)).data())));
                ++textures;
            }
        }
        QCOMPARE(textures, 19);

        // The nesting as the tree shows it, through every archive and wrapper.
        const struct {
            const char* row;
            Node::Kind kind;
        } rows[] = {
            {"nested.szs|arc|a.tpl|1", Node::Kind::Texture},
            {"nested.szs|arc|a.tpl|2", Node::Kind::Texture},
            {"nested.szs|arc|inner.szs|b.tpl|1", Node::Kind::Texture},
            {"nested.szs|arc|bad.tpl", Node::Kind::Damaged},
            {"nested.szs|model.brres|grass", Node::Kind::Texture},
            {"nested.szs|scene.arc|face.bti|1", Node::Kind::Texture},
            {"nested.szs|scene.arc|model.bmd|3 (tex0)", Node::Kind::Texture},
            {"model.bdl|1 (wall)", Node::Kind::Texture},
            {"opening.bnr|meta|banner.bin|arc|timg|x.tpl|1", Node::Kind::Texture},
            {"menu.szs|timg|logo.tpl|1", Node::Kind::Texture},
            {"face.tex0|face", Node::Kind::Texture},
            {"sub|c8-mip.bti|1", Node::Kind::Texture},
            {"sub", Node::Kind::Directory},
        };
        for (const auto& r : rows) {
            const QModelIndex at = rowNamed(model, r.row);
            QVERIFY2(at.isValid(), r.row);
            QCOMPARE(model.node(at)->kind, r.kind);
        }
        const QModelIndex bad = rowNamed(model, "nested.szs|arc|bad.tpl");
        QVERIFY(bad.siblingAtColumn(BrowseModel::FormatColumn).data().toString().startsWith("damaged: "));
        QVERIFY(!model.node(bad)->problem.empty());
    }

    // Thumbnails come from worker threads and land in the rows.
    void thumbnailsArrive() {
        BrowseModel model;
        openFolder(model);
        const QModelIndex row = rowNamed(model, "nested.szs|arc|a.tpl|1");
        QVERIFY(!model.hasThumbnail(row));
        QSignalSpy changed(&model, &BrowseModel::dataChanged);
        (void)row.data(Qt::DecorationRole);
        QTRY_VERIFY(model.hasThumbnail(row));
        const QPixmap thumb = row.data(Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(thumb.size(), QSize(model.thumbnailSide(), model.thumbnailSide()));
        // 16 × 16 sits in the middle of the 32 × 32 square, over the checkerboard.
        const QImage image = thumb.toImage();
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(16, 16)), 255);
    }

    // A path into a file opens the whole file and selects what it names.
    void pathSelectsItsRow_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("selected");
        QTest::newRow("texture in nested archives") << "nested.szs/arc/inner.szs/b.tpl/1" << "arc/inner.szs/b.tpl/1";
        QTest::newRow("texture by number") << "nested.szs/arc/a.tpl/2" << "arc/a.tpl/2";
        QTest::newRow("member") << "nested.szs/arc/a.tpl" << "arc/a.tpl";
        QTest::newRow("folder in an archive") << "nested.szs/arc" << "arc";
        QTest::newRow("BRRES texture by name") << "nested.szs/model.brres/grass" << "model.brres/grass";
        QTest::newRow("RARC member in Yaz0 in U8") << "nested.szs/scene.arc/face.bti/1" << "scene.arc/face.bti/1";
        QTest::newRow("the file") << "menu.szs" << "";
    }
    void pathSelectsItsRow() {
        QFETCH(QString, path);
        QFETCH(QString, selected);
        BrowseModel model;
        QSignalSpy select(&model, &BrowseModel::selectRequested);
        model.open({QString::fromStdString((root_ / path.toStdString()).string())});
        model.waitForLoading();
        QCOMPARE(select.count(), 1);
        const QModelIndex chosen = select.at(0).at(0).value<QModelIndex>();
        QVERIFY(chosen.isValid());
        QCOMPARE(model.data(chosen, BrowseModel::PathRole).toString(), selected);
        // The whole file is open, not only what the path named.
        QCOMPARE(model.document().sources().size(), std::size_t{1});
        QVERIFY(model.rowCount(model.sourceRow(0)) >= 1);
    }

    void filterMatchesNameFormatAndSize() {
        BrowseModel model;
        openFolder(model);
        RowFilter filter;
        filter.setSourceModel(&model);
        const auto visibleTextures = [&](const QModelIndex& parent, auto& self) -> QStringList {
            QStringList out;
            for (int r = 0; r < filter.rowCount(parent); ++r) {
                const QModelIndex at = filter.index(r, 0, parent);
                const QModelIndex inModel = filter.mapToSource(at);
                if (model.node(inModel)->kind == Node::Kind::Texture)
                    out << QString::fromStdString(model.node(inModel)->path);
                out << self(at, self);
            }
            return out;
        };
        filter.setWords(QStringLiteral("cmpr"));
        QCOMPARE(visibleTextures(QModelIndex(), visibleTextures),
                 QStringList({"bg/mud.tpl/1", "bg/sky.tpl/1", "model.brres/grass", "scene.arc/model.bmd/1",
                              "scene.arc/model.bmd/3"}));
        filter.setWords(QStringLiteral("c8 8x8"));
        QCOMPARE(visibleTextures(QModelIndex(), visibleTextures), QStringList({"arc/a.tpl/2", "1"}));
        filter.setWords(QStringLiteral("damaged"));
        QCOMPARE(filter.rowCount(), 1);
        filter.setWords(QString());
        QCOMPARE(filter.rowCount(), 7);
    }

    // Two replacements, the second undone, then saved: the file is what the
    // command-line replace writes for the first alone. Redo brings the second
    // back; saving again leaves no undo step for the file.
    void replaceUndoSaveWritesWhatTheCliWrites_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("U8 in Yaz0 in U8 in Yaz0") << "nested.szs" << "arc/inner.szs/b.tpl/1" << "arc/a.tpl/1";
        QTest::newRow("palette texture") << "nested.szs" << "arc/a.tpl/2" << "model.brres/grass";
        QTest::newRow("BRRES in U8") << "nested.szs" << "model.brres/grass" << "arc/a.tpl/2";
        QTest::newRow("RARC in Yaz0 in U8") << "nested.szs" << "scene.arc/face.bti/1" << "arc/a.tpl/1";
        QTest::newRow("J3D") << "model.bdl" << "1" << "1";
        QTest::newRow("banner") << "opening.bnr" << "meta/banner.bin/arc/timg/x.tpl/1" << "meta/icon.bin/arc/timg/icon.tpl/1";
        QTest::newRow("menu archive") << "menu.szs" << "timg/logo.tpl/1" << "bg/sky.tpl/1";
        QTest::newRow("TEX0 with its PLT0") << "face.tex0" << "face" << "face";
    }
    void replaceUndoSaveWritesWhatTheCliWrites() {
        QFETCH(QString, file);
        QFETCH(QString, first);
        QFETCH(QString, second);
        BrowseModel model;
        openFolder(model);
        const std::size_t s = sourceNamed(model.document(), file.toStdString());
        QVERIFY(s < model.document().sources().size());
        const fs::path disk = root_ / file.toStdString();
        const ByteVector original = fileBytes(disk.string());
        const TextureRef* a = *model.document().source(s).current->find(first.toStdString());
        const std::string member = a->member;
        const std::size_t number = a->number;
        const std::string pictureA = writePicture(root_ / "a.png", gradient(a->view.width, a->view.height, 5));

        auto step = prepareStep(model.document().base(s), editOf(*a, pictureA));
        QVERIFY2(step, step ? "" : describe(step.error()).c_str());
        QVERIFY(step->changed > 0);
        QVERIFY(model.commit(std::move(step).value()));
        const TextureRef* b = *model.document().source(s).current->find(second.toStdString());
        const std::string pictureB = writePicture(root_ / "b.png", gradient(b->view.width, b->view.height, 6));
        auto other = prepareStep(model.document().base(s), editOf(*b, pictureB));
        QVERIFY(other);
        QVERIFY(model.commit(std::move(other).value()));
        QVERIFY(model.document().dirty());
        QVERIFY(model.undo());
        QVERIFY(model.document().canRedo());

        const ByteVector expected =
            cliReplace(member.empty() ? disk.string() : (disk / member).string(), number, pictureA, root_ / "cli.out");
        QVERIFY(!expected.empty());
        QVERIFY(model.save(s));
        QVERIFY(fileBytes(disk.string()) == expected);
        QVERIFY(fileBytes(disk.string()) != original);
        QVERIFY(!model.document().dirty());
        QVERIFY(!model.document().canUndo());
        QVERIFY(!model.document().canRedo());
        // What is shown is what was saved.
        const auto reread = TextureFile::open(disk.string());
        QVERIFY(reread);
        QVERIFY((*model.document().source(s).current->find(first.toStdString()))->stored() ==
                (*reread->find(first.toStdString()))->stored());
    }

    // Nothing in force (a replacement undone, or one giving the texture what it
    // held): saving writes nothing, and the file keeps its bytes and its time.
    void saveWithNothingChangedLeavesTheFile() {
        BrowseModel model;
        openFolder(model);
        const std::size_t s = sourceNamed(model.document(), "nested.szs");
        const fs::path disk = root_ / "nested.szs";
        const ByteVector original = fileBytes(disk.string());
        const auto time = fs::last_write_time(disk);
        QCOMPARE(model.save(s).error(), SaveError::NothingToSave);

        const TextureRef* t = *model.document().source(s).current->find("arc/a.tpl/1");
        auto step = prepareStep(model.document().base(s), editOf(*t, writePicture(root_ / "p.png", gradient(16, 16, 9))));
        QVERIFY(step && model.commit(std::move(step).value()));
        QVERIFY(model.undo());
        QCOMPARE(model.save(s).error(), SaveError::NothingToSave);

        // Its own decoded picture back: no texture changes, the file is not dirty.
        TextureEdit same;
        same.texture = "arc/a.tpl/1";
        same.picture = std::move(t->decode(0)).value();
        auto kept = prepareStep(model.document().base(s), same);
        QVERIFY(kept);
        QCOMPARE(kept->changed, std::size_t{0});
        QVERIFY(model.commit(std::move(kept).value()));
        QVERIFY(!model.document().dirty());
        QCOMPARE(model.save(s).error(), SaveError::NothingToSave);
        QVERIFY(fileBytes(disk.string()) == original);
        QVERIFY(fs::last_write_time(disk) == time);
    }

    // The damaged member is a row with its reason; the textures beside it
    // decode, take a replacement and save, and the damaged bytes stay as they were.
    void damagedMemberShownWhileOthersWork() {
        BrowseModel model;
        openFolder(model);
        const std::size_t s = sourceNamed(model.document(), "nested.szs");
        const FilePtr file = model.document().source(s).current;
        QCOMPARE(file->damaged().size(), std::size_t{1});
        QCOMPARE(file->damaged()[0].member, std::string("arc/bad.tpl"));
        const QModelIndex bad = model.find(s, "arc/bad.tpl");
        QCOMPARE(model.node(bad)->kind, Node::Kind::Damaged);
        QCOMPARE(model.node(bad)->problem, describe(file->damaged()[0].error));
        QVERIFY(model.texture(bad) == nullptr);

        const TextureRef* t = *file->find("arc/a.tpl/1");
        QVERIFY(t->decode(0));
        auto step = prepareStep(model.document().base(s), editOf(*t, writePicture(root_ / "p.png", gradient(16, 16, 4))));
        QVERIFY(step && model.commit(std::move(step).value()));
        QVERIFY(model.save(s));
        const ByteVector saved = fileBytes((root_ / "nested.szs").string());
        const auto before = openPath(file->bytes(), "nested.szs", "arc/bad.tpl");
        const auto after = openPath(saved, "nested.szs", "arc/bad.tpl");
        QVERIFY(before && after);
        QVERIFY(std::equal(before->member.bytes.begin(), before->member.bytes.end(), after->member.bytes.begin(),
                           after->member.bytes.end()));
    }

    // Save As writes the file elsewhere, changed or not, and names it from then on.
    void saveAsWritesElsewhere() {
        BrowseModel model;
        openFolder(model);
        const std::size_t s = sourceNamed(model.document(), "game.u8");
        const std::string copy = (root_ / "copy.u8").string();
        QVERIFY(model.save(s, copy));
        QVERIFY(fileBytes(copy) == fileBytes((root_ / "game.u8").string()));
        QCOMPARE(model.document().source(s).diskPath, copy);
        QCOMPARE(model.document().source(s).label, std::string("copy.u8"));
    }

    // Export writes what `tplforge-cli decode --mipmaps` writes, where it writes it.
    void exportWritesWhatDecodeWrites_data() {
        QTest::addColumn<QString>("file");
        for (const char* file : {"nested.szs", "menu.szs", "model.bdl", "opening.bnr", "sub/c8-mip.bti", "face.tex0"})
            QTest::newRow(file) << file;
    }
    void exportWritesWhatDecodeWrites() {
        QFETCH(QString, file);
        BrowseModel model;
        openFolder(model);
        const Document& d = model.document();
        const std::size_t s = sourceNamed(d, file.toStdString());
        const fs::path mine = root_ / "mine", theirs = root_ / "theirs";
        for (std::size_t k = 0; k < d.source(s).current->textures().size(); ++k) QVERIFY(exportTexture(mine.string(), d.source(s), k));
        QProcess cli;
        cli.start(QStringLiteral(TPLFORGE_CLI), {QStringLiteral("decode"), QStringLiteral("--mipmaps"),
                                                 QString::fromStdString((root_ / file.toStdString()).string()),
                                                 QStringLiteral("-o"), QString::fromStdString(theirs.string())});
        QVERIFY(cli.waitForFinished(60000));  // it fails on the damaged member, and writes the rest
        const auto listed = [](const fs::path& folder) {
            std::map<std::string, ByteVector> files;
            for (const auto& e : fs::recursive_directory_iterator(folder))
                if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = fileBytes(e.path().string());
            return files;
        };
        const auto got = listed(mine), want = listed(theirs);
        QVERIFY(!want.empty());
        QStringList gotNames, wantNames;
        for (const auto& [name, bytes] : got) gotNames << QString::fromStdString(name);
        for (const auto& [name, bytes] : want) wantNames << QString::fromStdString(name);
        QCOMPARE(gotNames, wantNames);
        QVERIFY(got == want);
    }

    void psnrTable() {
        Image a = gradient(4, 4), b = a;
        QVERIFY(std::isinf(*psnr(a, b)));
        b.rgba[0] ^= 0x10;  // one channel of one pixel off by 16: MSE 256 / 64
        QCOMPARE(*psnr(a, b), 10 * std::log10(255.0 * 255.0 / 4.0));
        QVERIFY(!psnr(a, gradient(4, 2)));
        // A grey texture shows no alpha: the picture's alpha does not count against it.
        Image grey(2, 2), shown(2, 2);
        for (std::size_t i = 0; i < grey.rgba.size(); ++i) grey.rgba[i] = shown.rgba[i] = (i % 4 == 3) ? 255 : 90;
        grey.rgba[3] = 10;
        QVERIFY(std::isinf(*psnrAgainstPicture(grey, shown, Format::I8)));
        QVERIFY(!std::isinf(*psnrAgainstPicture(grey, shown, Format::RGBA8)));
    }
};

QTEST_MAIN(BrowseModelTest)
#include "test_browse_model.moc"
