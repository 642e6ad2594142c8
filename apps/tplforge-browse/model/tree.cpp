#include "model/tree.h"

#include <algorithm>

namespace tplforge::browse {

namespace {

std::vector<std::string> partsOf(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string::npos ? path.size() : slash;
        if (end > start) parts.push_back(path.substr(start, end - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

// The folder node of a member path, every folder on the way made.
Node& memberNode(Node& sourceNode, const std::string& member) {
    Node* at = &sourceNode;
    std::string path;
    for (const std::string& part : partsOf(member)) {
        path += (path.empty() ? "" : "/") + part;
        at = at->folder(part, path);
    }
    return *at;
}

}  // namespace

int Node::row() const {
    if (!parent) return 0;
    const auto& siblings = parent->children;
    const auto it = std::find_if(siblings.begin(), siblings.end(), [this](const auto& c) { return c.get() == this; });
    return static_cast<int>(it - siblings.begin());
}

Node* Node::add(std::unique_ptr<Node> child) {
    child->parent = this;
    child->source = source;
    children.push_back(std::move(child));
    return children.back().get();
}

Node* Node::folder(const std::string& folderName, const std::string& folderPath) {
    for (auto& c : children)
        if (c->kind == Kind::Folder && c->name == folderName) return c.get();
    auto made = std::make_unique<Node>();
    made->kind = Kind::Folder;
    made->name = folderName;
    made->path = folderPath;
    return add(std::move(made));
}

void fillSource(Node& sourceNode, const TextureFile& file) {
    const auto textures = file.textures();
    for (std::size_t i = 0; i < textures.size(); ++i) {
        const TextureRef& t = textures[i];
        auto leaf = std::make_unique<Node>();
        leaf->kind = Node::Kind::Texture;
        leaf->name = t.storedName.empty() ? t.name : t.name + " (" + t.storedName + ")";
        leaf->path = t.path();
        leaf->texture = i;
        memberNode(sourceNode, t.member).add(std::move(leaf));
    }
    for (const DamagedMember& d : file.damaged()) {
        const auto slash = d.member.rfind('/');
        Node& folder = memberNode(sourceNode, slash == std::string::npos ? std::string() : d.member.substr(0, slash));
        auto leaf = std::make_unique<Node>();
        leaf->kind = Node::Kind::Damaged;
        leaf->name = slash == std::string::npos ? d.member : d.member.substr(slash + 1);
        if (leaf->name.empty()) leaf->name = sourceNode.name;
        leaf->path = d.member;
        leaf->problem = describe(d.error);
        folder.add(std::move(leaf));
    }
}

void texturesBelow(const Node& node, std::vector<const Node*>& out) {
    if (node.kind == Node::Kind::Texture) out.push_back(&node);
    for (const auto& c : node.children) texturesBelow(*c, out);
}

const Node* findPath(const Node& sourceNode, const std::string& path) {
    if (path.empty()) return &sourceNode;
    for (const auto& c : sourceNode.children) {
        if (c->path == path) return c.get();
        const bool below = path.size() > c->path.size() && path.compare(0, c->path.size(), c->path) == 0 &&
                           path[c->path.size()] == '/';
        if (below && c->kind == Node::Kind::Folder)
            if (const Node* found = findPath(*c, path)) return found;
    }
    return nullptr;
}

}  // namespace tplforge::browse
