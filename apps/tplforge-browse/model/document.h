// What the browser has open: files on disk, each with the textures it held when
// read and the file it becomes with the replacements in force, and one undo
// stack of replacements across all of them. Plain C++ over the public library,
// so the tests drive it without a window; the heavy calls (opening, replacing)
// are free functions that a worker thread may run on snapshots.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tplforge/texture_file.h"

namespace tplforge::browse {

using FilePtr = std::shared_ptr<const TextureFile>;
using EditPtr = std::shared_ptr<const TextureEdit>;

// One file on disk.
struct Source {
    std::string diskPath;
    std::string label;    // as the tree shows it: the file name, or its path below the folder opened
    FilePtr saved;        // as on disk; null when it could not be read
    FilePtr current;      // with the replacements in force (== saved when there are none)
    std::vector<EditPtr> edits;  // the replacements in force, one a texture
    bool writesPalette = false;  // a standalone TEX0 whose new PLT0 goes beside it
    std::string problem;  // why it could not be read, one line
    std::uint64_t generation = 0;  // counts changes of `current`

    [[nodiscard]] bool dirty() const { return current != saved; }
};

// A file opened and the texture (or member, or folder) its path named below the file.
struct Opened {
    Source source;
    std::string select;
};

// `path` is a file, or a path into one. Never fails: a file that cannot be read
// comes back with its problem.
[[nodiscard]] Opened openSource(const std::string& path);

// The files below `folder` that are of a kind holding textures, sorted, found
// without reading more of each than its first bytes. Stops early when `cancel` is set.
[[nodiscard]] std::vector<std::string> textureFilesIn(const std::string& folder, const std::atomic<bool>* cancel = nullptr);

// One replacement, worked out: the file the source becomes.
struct Step {
    std::size_t source = 0;
    std::string texture;  // TextureRef::path()
    FilePtr before, after;
    std::vector<EditPtr> editsBefore, editsAfter;
    bool writesPalette = false, writesPaletteBefore = false;
    std::vector<Note> notes;
    std::size_t changed = 0;
};

// What a replacement is worked out from, taken on the thread that owns the document.
struct StepBase {
    std::size_t source = 0;
    std::string diskPath;
    FilePtr saved, current;
    std::vector<EditPtr> edits;
    bool writesPalette = false;
};

// The source's saved file with every replacement in force and `edit` (in place
// of an earlier one of the same texture) replaced in one call, as
// `tplforge-cli replace` would given them all.
[[nodiscard]] Expected<Step, Error> prepareStep(const StepBase& base, TextureEdit edit, const EditOptions& options = {});

enum class SaveError { NothingToSave, NotReadable, CannotWrite };

class Document {
public:
    std::size_t add(Source source);
    [[nodiscard]] const std::vector<Source>& sources() const { return sources_; }
    [[nodiscard]] const Source& source(std::size_t i) const { return sources_.at(i); }
    void clear();

    [[nodiscard]] StepBase base(std::size_t source) const;
    // Takes a step worked out from the source as it is now; false when the source
    // has changed since its base was taken.
    bool commit(Step step);

    [[nodiscard]] bool canUndo() const { return applied_ > 0; }
    [[nodiscard]] bool canRedo() const { return applied_ < steps_.size(); }
    // The source the step touched, or nothing.
    std::optional<std::size_t> undo();
    std::optional<std::size_t> redo();
    [[nodiscard]] const Step* nextUndo() const { return canUndo() ? &steps_[applied_ - 1] : nullptr; }
    [[nodiscard]] const Step* nextRedo() const { return canRedo() ? &steps_[applied_] : nullptr; }

    [[nodiscard]] bool dirty() const;
    [[nodiscard]] std::vector<std::size_t> dirtySources() const;
    // Writes the source's file (atomically) when it has replacements in force;
    // the undo steps of that source go, as they name a file that is no more.
    // `to` empty: its own path; else the file is written there and the source
    // names it from then on, changed or not.
    [[nodiscard]] Expected<void, SaveError> save(std::size_t source, const std::string& to = {});
    [[nodiscard]] const std::string& lastSaveProblem() const { return saveProblem_; }

    // Whether the texture has a replacement in force.
    [[nodiscard]] bool edited(std::size_t source, const std::string& texture) const;

private:
    void apply(std::size_t source, const FilePtr& file, const std::vector<EditPtr>& edits, bool writesPalette);

    std::vector<Source> sources_;
    std::vector<Step> steps_;
    std::size_t applied_ = 0;
    std::string saveProblem_;
};

}  // namespace tplforge::browse

namespace tplforge::browse {

// Peak signal-to-noise ratio over all four channels, in dB; infinite for equal
// pictures, nothing for pictures of different sides.
[[nodiscard]] std::optional<double> psnr(const Image& a, const Image& b);

// The picture as a texture of `format` would show it at best: grey formats keep
// no colour and some no alpha, so the PSNR compares what the format can hold.
[[nodiscard]] std::optional<double> psnrAgainstPicture(const Image& picture, const Image& decoded, Format format);

}  // namespace tplforge::browse
