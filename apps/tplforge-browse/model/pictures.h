// Pictures the browser takes in and gives out: any picture file in (PNG and
// Targa by the library's readers, other formats through Qt), and PNG files out
// laid out as `tplforge-cli decode` lays them.
#pragma once

#include <string>
#include <vector>

#include "model/document.h"

namespace tplforge::browse {

[[nodiscard]] Expected<Image, std::string> readPicture(const std::string& path);

// Where `decode` puts level `level` of texture `k` of the source: the file's
// stem, then the member's folders and stem inside an archive, then ".k" (of
// several) or a folder of names (BRRES, J3D, save banners), ".mipN" below level 0.
[[nodiscard]] std::string exportPath(const std::string& folder, const Source& source, std::size_t k, unsigned level);

// Every level of texture `k` of the source as PNG files below `folder`; the
// paths written, or the first problem.
[[nodiscard]] Expected<std::vector<std::string>, std::string> exportTexture(const std::string& folder,
                                                                           const Source& source, std::size_t k);

}  // namespace tplforge::browse
