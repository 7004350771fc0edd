#include "platform/posix/RegistryTree.h"

#include "common/Format.h"
#include "common/Text.h"

namespace kx::platform {
namespace {

constexpr std::size_t kMaxKeyNameLength = 255;

}  // namespace

const RegistryValue* CRegistryTree::Node::FindValue(const std::wstring& valueName) const {
    for (const RegistryValue& value : values) {
        if (EqualsNoCase(value.name, valueName)) return &value;
    }
    return nullptr;
}

void CRegistryTree::Node::SetValue(RegistryValue value) {
    for (RegistryValue& existing : values) {
        if (EqualsNoCase(existing.name, value.name)) {
            // The name keeps the case it was created with, as on Windows.
            existing.type = value.type;
            existing.data = std::move(value.data);
            return;
        }
    }
    values.push_back(std::move(value));
}

bool CRegistryTree::Node::RemoveValue(const std::wstring& valueName) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (EqualsNoCase(it->name, valueName)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

CRegistryTree::CRegistryTree(std::wstring rootName) : rootName_(std::move(rootName)) {
    root_.name = rootName_;
}

const CRegistryTree::Node* CRegistryTree::Find(const Path& path) const {
    const Node* node = &root_;
    for (const std::wstring& name : path) {
        auto it = node->children.find(ToLower(name));
        if (it == node->children.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

CRegistryTree::Node* CRegistryTree::Find(const Path& path) {
    return const_cast<Node*>(static_cast<const CRegistryTree*>(this)->Find(path));
}

CRegistryTree::Node* CRegistryTree::Create(const Path& path, bool* created) {
    *created = false;
    Node* node = &root_;
    for (const std::wstring& name : path) {
        std::unique_ptr<Node>& child = node->children[ToLower(name)];
        if (!child) {
            child = std::make_unique<Node>();
            child->name = name;
            *created = true;
        }
        node = child.get();
    }
    return node;
}

bool CRegistryTree::Remove(const Path& path) {
    if (path.empty()) return false;
    Path parentPath(path.begin(), path.end() - 1);
    Node* parent = Find(parentPath);
    return parent && parent->children.erase(ToLower(path.back())) > 0;
}

void CRegistryTree::Clear() {
    root_.values.clear();
    root_.children.clear();
}

bool CRegistryTree::Load(const std::vector<RegFileKey>& keys, std::wstring* message) {
    Clear();
    for (const RegFileKey& key : keys) {
        if (!LoadKey(key, message)) return false;
    }
    return true;
}

bool CRegistryTree::LoadKey(const RegFileKey& key, std::wstring* message) {
    std::wstring_view path = key.path;
    bool underRoot = StartsWithNoCase(path, rootName_) &&
                     (path.size() == rootName_.size() || path[rootName_.size()] == L'\\');
    if (!underRoot) {
        *message = Format(L"the key [%s] does not belong to %s", key.path, rootName_);
        return false;
    }
    Path segments;
    std::wstring subkey(path.substr(std::min(path.size(), rootName_.size() + 1)));
    if (SplitRegistryPath(subkey, &segments) != 0) {
        *message = Format(L"the key [%s] is not a valid key path", key.path);
        return false;
    }
    if (key.remove) {
        Remove(segments);
        return true;
    }
    bool created = false;
    Node* node = Create(segments, &created);
    for (const RegFileValue& value : key.values) {
        if (value.remove) {
            node->RemoveValue(value.name);
        } else {
            node->SetValue(RegistryValue{value.name, value.type, value.data});
        }
    }
    return true;
}

std::vector<RegFileKey> CRegistryTree::Save() const {
    std::vector<RegFileKey> keys;
    SaveNode(root_, rootName_, &keys);
    return keys;
}

void CRegistryTree::SaveNode(const Node& node, const std::wstring& path,
                             std::vector<RegFileKey>* keys) const {
    // The root itself is written only when it holds values; every other key
    // is written even when empty, since an empty key is information too.
    if (&node != &root_ || !node.values.empty()) {
        RegFileKey key;
        key.path = path;
        for (const RegistryValue& value : node.values) {
            key.values.push_back(RegFileValue{value.name, value.type, value.data, false});
        }
        keys->push_back(std::move(key));
    }
    for (const auto& [lowerName, child] : node.children) {
        SaveNode(*child, path + L"\\" + child->name, keys);
    }
}

uint32_t SplitRegistryPath(const std::wstring& subkey, CRegistryTree::Path* path) {
    path->clear();
    std::size_t start = 0;
    while (start < subkey.size()) {
        std::size_t end = subkey.find(L'\\', start);
        if (end == std::wstring::npos) end = subkey.size();
        std::wstring name = subkey.substr(start, end - start);
        if (name.empty()) return kRegistryBadPathName;
        if (name.size() > kMaxKeyNameLength || !IsRegFileName(name)) {
            return kRegistryInvalidParameter;
        }
        path->push_back(std::move(name));
        start = end + 1;
    }
    return 0;
}

}  // namespace kx::platform
