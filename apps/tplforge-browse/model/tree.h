// The tree the browser shows of one file: archive members and containers as
// folders, each texture a leaf, each member that did not read a leaf with its
// reason. Built from the file's texture list alone, so it is plain C++.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tplforge/texture_file.h"

namespace tplforge::browse {

inline constexpr std::size_t kNoSource = static_cast<std::size_t>(-1);

struct Node {
    // Directory: a folder on disk, above the files opened from it.
    enum class Kind { Source, Folder, Texture, Damaged, Directory };
    Kind kind = Kind::Folder;
    std::string name;
    // Source: "". Folder: its member path. Texture: TextureRef::path(). Damaged: the member.
    // Directory: the folder's path on disk.
    std::string path;
    std::size_t source = 0;   // Directory: none (kNoSource)
    std::size_t texture = 0;  // Texture: its place in textures()
    std::string problem;      // Damaged, or a source that could not be read
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;

    [[nodiscard]] int row() const;
    Node* add(std::unique_ptr<Node> child);
    Node* folder(const std::string& name, const std::string& path);  // the child folder, made when missing
};

// The file's members and textures below a source node.
void fillSource(Node& sourceNode, const TextureFile& file);

// Every texture leaf below `node`, in tree order.
void texturesBelow(const Node& node, std::vector<const Node*>& out);

// The node a path inside the file names: a texture, a member, a folder; null when none.
[[nodiscard]] const Node* findPath(const Node& sourceNode, const std::string& path);

}  // namespace tplforge::browse
