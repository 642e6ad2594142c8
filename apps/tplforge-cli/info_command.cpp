#include <bit>
#include <iostream>
#include <sstream>
#include <string>

#include "commands.h"
#include "common/file_io.h"
#include "json_text.h"
#include "tpl/tpl_file.h"

namespace tplforge::cli {

namespace {

// GX sampler values, named for people; the JSON keeps the numbers only.
std::string wrapName(std::uint32_t mode) {
    switch (mode) {
        case 0: return "clamp";
        case 1: return "repeat";
        case 2: return "mirror";
    }
    return "unknown";
}

std::string filterName(std::uint32_t filter) {
    switch (filter) {
        case 0: return "near";
        case 1: return "linear";
        case 2: return "near_mip_near";
        case 3: return "lin_mip_near";
        case 4: return "near_mip_lin";
        case 5: return "lin_mip_lin";
    }
    return "unknown";
}

std::string named(const std::string& name, std::uint32_t value) {
    return name + " (" + std::to_string(value) + ")";
}

float lodBias(const TplImage& image) { return std::bit_cast<float>(image.lodBias); }

void printText(std::ostream& out, const std::string& file, const TplInfo& info) {
    out << "file: " << file << '\n'
        << "size: " << info.fileSize << " bytes\n"
        << "textures: " << info.images.size() << '\n';
    for (std::size_t k = 0; k < info.images.size(); ++k) {
        const TplImage& t = info.images[k];
        out << "\ntexture " << k + 1 << '\n'
            << "  size:           " << t.width << " x " << t.height << '\n'
            << "  format:         " << named(std::string(formatName(t.format)), t.format) << '\n'
            << "  data offset:    " << t.dataOffset << '\n'
            << "  palette header: " << t.paletteOffset << '\n'
            << "  wrap s / t:     " << named(wrapName(t.wrapS), t.wrapS) << " / " << named(wrapName(t.wrapT), t.wrapT)
            << '\n'
            << "  min / mag:      " << named(filterName(t.minFilter), t.minFilter) << " / "
            << named(filterName(t.magFilter), t.magFilter) << '\n'
            << "  lod bias:       " << floatText(lodBias(t)) << '\n'
            << "  edge lod:       " << int{t.edgeLod} << '\n'
            << "  min / max lod:  " << int{t.minLod} << " / " << int{t.maxLod} << '\n';
    }
}

void printJson(std::ostream& out, const std::string& file, const TplInfo& info) {
    out << "{\"file\": " << jsonString(file) << ", \"size\": " << info.fileSize << ", \"textures\": [";
    for (std::size_t k = 0; k < info.images.size(); ++k) {
        const TplImage& t = info.images[k];
        if (k > 0) out << ", ";
        out << "{\"index\": " << k + 1 << ", \"width\": " << t.width << ", \"height\": " << t.height
            << ", \"format\": " << jsonString(formatName(t.format)) << ", \"code\": " << t.format
            << ", \"offset\": " << t.dataOffset << ", \"palette\": " << t.paletteOffset
            << ", \"wrap_s\": " << t.wrapS << ", \"wrap_t\": " << t.wrapT << ", \"min_filter\": " << t.minFilter
            << ", \"mag_filter\": " << t.magFilter << ", \"lod_bias\": " << jsonFloat(lodBias(t))
            << ", \"edge_lod\": " << int{t.edgeLod} << ", \"min_lod\": " << int{t.minLod}
            << ", \"max_lod\": " << int{t.maxLod} << '}';
    }
    out << "]}\n";
}

}  // namespace

int runInfo(const InfoRequest& request) {
    const auto input = readTplInput(request.file);
    if (!input) return kInputFailed;
    const TplInfo& info = input->info;
    std::ostringstream text;
    if (request.json)
        printJson(text, request.file, info);
    else
        printText(text, request.file, info);
    std::cout << text.str() << std::flush;
    return std::cout ? kSuccess : kInputFailed;
}

}  // namespace tplforge::cli
