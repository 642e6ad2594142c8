#include "model/document.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <filesystem>
#include <system_error>

#include "tplforge/file_io.h"
#include "tplforge/file_kind.h"

namespace tplforge::browse {

namespace fs = std::filesystem;

namespace {

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::vector<std::uint8_t> copyOf(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

// Kinds worth listing in a folder: anything holding textures, or that may hold
// them once opened.
bool mayHoldTextures(FileKind kind) { return holdsTextures(kind) || isArchive(kind) || isWrapper(kind); }

}  // namespace

Opened openSource(const std::string& path) {
    // The longest leading part that is a file; what follows names something inside.
    std::string disk = path, inner;
    while (!isRegularFile(disk)) {
        const auto slash = disk.rfind('/');
        if (slash == std::string::npos || slash == 0) {
            disk = path;
            inner.clear();
            break;
        }
        inner = disk.substr(slash + 1) + (inner.empty() ? "" : "/" + inner);
        disk.resize(slash);
    }
    Opened out;
    out.source.diskPath = disk;
    out.source.label = fs::path(disk).filename().string();
    out.select = inner;
    auto file = TextureFile::open(disk);
    if (!file) {
        out.source.problem = describe(file.error());
        return out;
    }
    out.source.saved = std::make_shared<const TextureFile>(std::move(file).value());
    out.source.current = out.source.saved;
    return out;
}

std::vector<std::string> textureFilesIn(const std::string& folder, const std::atomic<bool>* cancel) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (cancel && cancel->load()) return {};
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string path = it->path().string();
        auto mapped = mapWholeFile(path);
        if (!mapped) continue;
        if (mayHoldTextures(detectKind(mapped->bytes(), path))) found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    return found;
}

Expected<Step, Error> prepareStep(const StepBase& base, TextureEdit edit, const EditOptions& options) {
    if (!base.saved) return fail(Error{ErrorCode::CannotRead, base.diskPath, {}, "the file could not be read"});
    Step step;
    step.source = base.source;
    step.texture = edit.texture;
    step.before = base.current;
    step.editsBefore = base.edits;
    step.writesPaletteBefore = base.writesPalette;
    step.editsAfter = base.edits;
    auto mine = std::make_shared<const TextureEdit>(std::move(edit));
    const auto same = std::find_if(step.editsAfter.begin(), step.editsAfter.end(),
                                   [&](const EditPtr& e) { return e->texture == mine->texture; });
    if (same != step.editsAfter.end())
        *same = mine;
    else
        step.editsAfter.push_back(mine);

    std::vector<TextureEdit> edits;
    edits.reserve(step.editsAfter.size());
    for (const EditPtr& e : step.editsAfter) edits.push_back(*e);
    auto result = base.saved->replace(edits, options);
    if (!result) return fail(result.error());
    step.notes = std::move(result->notes);
    step.changed = result->changed;
    step.writesPalette = !result->plt0.empty();
    const auto was = base.saved->bytes();
    if (!step.writesPalette && std::equal(result->file.begin(), result->file.end(), was.begin(), was.end())) {
        // Every texture holds what it held: the file on disk is the file, and saving it writes nothing.
        step.after = base.saved;
        return step;
    }
    auto palette = step.writesPalette ? std::move(result->plt0) : copyOf(base.saved->paletteBytes());
    auto after = TextureFile::fromBytes(std::move(result->file), base.diskPath, {}, std::move(palette));
    if (!after) return fail(after.error());
    step.after = std::make_shared<const TextureFile>(std::move(after).value());
    return step;
}

std::size_t Document::add(Source source) {
    sources_.push_back(std::move(source));
    return sources_.size() - 1;
}

void Document::clear() {
    sources_.clear();
    steps_.clear();
    applied_ = 0;
}

StepBase Document::base(std::size_t source) const {
    const Source& s = sources_.at(source);
    return StepBase{source, s.diskPath, s.saved, s.current, s.edits, s.writesPalette};
}

void Document::apply(std::size_t source, const FilePtr& file, const std::vector<EditPtr>& edits, bool writesPalette) {
    Source& s = sources_.at(source);
    s.current = file;
    s.edits = edits;
    s.writesPalette = writesPalette;
    ++s.generation;
}

bool Document::commit(Step step) {
    if (step.source >= sources_.size() || sources_[step.source].current != step.before) return false;
    steps_.resize(applied_);
    apply(step.source, step.after, step.editsAfter, step.writesPalette);
    steps_.push_back(std::move(step));
    applied_ = steps_.size();
    return true;
}

std::optional<std::size_t> Document::undo() {
    if (!canUndo()) return std::nullopt;
    const Step& step = steps_[--applied_];
    apply(step.source, step.before, step.editsBefore, step.writesPaletteBefore);
    return step.source;
}

std::optional<std::size_t> Document::redo() {
    if (!canRedo()) return std::nullopt;
    const Step& step = steps_[applied_++];
    apply(step.source, step.after, step.editsAfter, step.writesPalette);
    return step.source;
}

bool Document::dirty() const {
    return std::any_of(sources_.begin(), sources_.end(), [](const Source& s) { return s.dirty(); });
}

std::vector<std::size_t> Document::dirtySources() const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < sources_.size(); ++i)
        if (sources_[i].dirty()) out.push_back(i);
    return out;
}

bool Document::edited(std::size_t source, const std::string& texture) const {
    const auto& edits = sources_.at(source).edits;
    return std::any_of(edits.begin(), edits.end(), [&](const EditPtr& e) { return e->texture == texture; });
}

Expected<void, SaveError> Document::save(std::size_t source, const std::string& to) {
    Source& s = sources_.at(source);
    saveProblem_.clear();
    if (!s.current) return fail(SaveError::NotReadable);
    if (to.empty() && !s.dirty()) return fail(SaveError::NothingToSave);
    const std::string target = to.empty() ? s.diskPath : to;
    const auto bytes = s.current->bytes();
    if (s.writesPalette || !to.empty()) {
        // The palette beside a TEX0 goes along; one that did not change stays untouched.
        const auto palette = s.current->paletteBytes();
        const auto before = s.saved->paletteBytes();
        const bool same = std::equal(palette.begin(), palette.end(), before.begin(), before.end());
        if (!palette.empty() && (!to.empty() || !same)) {
            const std::string palettePath = palettePathBeside(target);
            if (const auto written = writeFileAtomically(palettePath, palette); !written) {
                saveProblem_ = palettePath + ": " + written.error().message();
                return fail(SaveError::CannotWrite);
            }
        }
    }
    if (const auto written = writeFileAtomically(target, bytes); !written) {
        saveProblem_ = target + ": " + written.error().message();
        return fail(SaveError::CannotWrite);
    }
    if (!to.empty()) {
        s.diskPath = to;
        s.label = fs::path(to).filename().string();
    }
    s.saved = s.current;
    s.edits.clear();
    s.writesPalette = false;
    ++s.generation;
    // Its steps name the file as it was; the other sources' steps stay.
    std::vector<Step> kept;
    std::size_t appliedKept = 0;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        if (steps_[i].source == source) continue;
        if (i < applied_) ++appliedKept;
        kept.push_back(std::move(steps_[i]));
    }
    steps_ = std::move(kept);
    applied_ = appliedKept;
    return {};
}

}  // namespace tplforge::browse

namespace tplforge::browse {

std::optional<double> psnr(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.rgba.size() != b.rgba.size() || a.rgba.empty())
        return std::nullopt;
    double sum = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        const double d = double(a.rgba[i]) - double(b.rgba[i]);
        sum += d * d;
    }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    const double mse = sum / double(a.rgba.size());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

std::optional<double> psnrAgainstPicture(const Image& picture, const Image& decoded, Format format) {
    Image held = picture;
    keepHeldChannels(held, format);
    Image shown = decoded;
    keepHeldChannels(shown, format);
    return psnr(held, shown);
}

}  // namespace tplforge::browse
