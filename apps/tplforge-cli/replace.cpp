// replace: pictures put in place of some textures of a TPL file or of any other
// container, also inside archives, each with the settings that texture has
// unless the command line changes them; every other texture, member and layer
// keeps its bytes.
#include <algorithm>
#include <set>

#include "cli.h"
#include "files.h"
#include "picture_input.h"

namespace tplforge::cli {

int runReplace(const ReplaceRequest& request) {
    const std::string& file = request.file;
    const auto refuse = [&](const std::string& line) {
        std::fprintf(stderr, "%s; nothing written\n", shown(line).c_str());
        return kInputFailed;
    };
    auto opened = TextureFile::open(file);
    if (!opened) return refuse(describe(opened.error()));
    if (!opened->folder().empty()) return refuse(file + ": " + opened->folder() + " is a folder; name a file in it");
    const FileKind kind = opened->kind();
    if (!holdsTextures(kind))
        return refuse(file + ": holds no textures (" + std::string(kindName(kind)) + "); name a member that does");
    // A texture that does not read cannot be kept as it is, nor replaced.
    if (!opened->damaged().empty()) return refuse(describe(opened->damaged().front().error));
    const auto textures = opened->textures();
    const std::size_t n = textures.size();

    // K left out: the texture the path names, or the only one.
    std::vector<Replacement> typed = request.replacements;
    if (typed.size() == 1 && typed[0].texture == 0) {
        if (!opened->namesTexture() && n != 1)
            return refuse(file + ": holds several textures; give the number K of the one to replace");
        typed[0].texture = 1;
    } else if (opened->namesTexture()) {
        return refuse(file + ": names one texture already; give no K");
    }
    std::set<std::size_t> seen;
    for (const Replacement& r : typed) {
        if (r.texture < 1 || r.texture > n)
            return refuse(file + ": texture " + std::to_string(r.texture) + ": the file has " + std::to_string(n) +
                          (n == 1 ? " texture" : " textures"));
        if (!seen.insert(r.texture).second)
            return refuse(file + ": texture " + std::to_string(r.texture) + " is named twice");
    }

    std::vector<TextureEdit> edits;
    for (const Replacement& r : typed) {
        auto picture = readInputPicture(r.picture, Backdrop::keepAlpha());
        if (!picture) return refuse(r.picture + ": " + picture.error());
        TextureEdit edit;
        edit.texture = textures[r.texture - 1].path();
        edit.picture = std::move(picture).value();
        if (r.changes.keyColour) applyKeyColour(edit.picture, *r.changes.keyColour);
        edit.changes = r.changes;
        edit.pictureName = r.picture;
        edits.push_back(std::move(edit));
    }
    EditOptions options;
    options.strict = request.strict;
    options.threads = request.run.jobs;
    auto replaced = opened->replace(edits, options);
    if (!replaced) return refuse(describe(replaced.error()));
    for (const Note& note : replaced->notes)
        std::fprintf(stderr, "%s: note: %s\n", shown(note.where).c_str(), shown(note.text).c_str());

    const std::string target = request.output.empty() ? opened->diskPath() : request.output;
    if (!replaced->plt0.empty()) {
        const std::string palettePath = palettePathBeside(target);
        const auto besideNow = opened->paletteBytes();
        const auto& plt0 = replaced->plt0;
        if (!request.output.empty() || !std::equal(plt0.begin(), plt0.end(), besideNow.begin(), besideNow.end()))
            if (const auto saved = writeOutput(palettePath, plt0); !saved) return refuse(palettePath + ": " + saved.error());
    }
    if (const auto saved = writeOutput(target, replaced->file); !saved) return refuse(target + ": " + saved.error());
    return kSuccess;
}

}  // namespace tplforge::cli
