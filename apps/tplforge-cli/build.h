// What the builders of the two manifest versions share.
#pragma once

#include <string>

#include "cli.h"
#include "jobs.h"
#include "manifest.h"
#include "tplforge/tpl.h"

namespace tplforge::cli {

// The TPL header a manifest's texture asks for; its max LOD only while it
// gives the texture's levels.
[[nodiscard]] TextureSettings headerOf(const ManifestTexture& texture);

// Version 2. `alone`: the only manifest of the run, whose files' messages and
// progress line go straight to the terminal.
void buildTree(const BuildRequest& request, const std::string& path, TreeManifest manifest, JobOutput& out,
               unsigned threads, bool alone);

}  // namespace tplforge::cli
