#pragma once
// The keys and values of one root key of the file-backed registry, in memory.
// Names compare ignoring case and keep the case they were created with.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/RegFile.h"
#include "platform/Registry.h"

namespace kx::platform {

class CRegistryTree {
public:
    using Path = std::vector<std::wstring>;

    struct Node {
        std::wstring name;
        std::vector<RegistryValue> values;                       // in the order they were first set
        std::map<std::wstring, std::unique_ptr<Node>> children;  // by lower-case name

        const RegistryValue* FindValue(const std::wstring& valueName) const;
        void SetValue(RegistryValue value);
        bool RemoveValue(const std::wstring& valueName);
    };

    explicit CRegistryTree(std::wstring rootName);

    const std::wstring& RootName() const { return rootName_; }
    const Node* Find(const Path& path) const;
    Node* Find(const Path& path);
    // Creates what is missing of the path; *created tells whether anything was.
    Node* Create(const Path& path, bool* created);
    // Removes the key with everything below it; false when it does not exist.
    bool Remove(const Path& path);
    void Clear();

    // Applies the sections of a ".reg" file. False (and the tree unusable) when
    // a section belongs to another root or names an invalid key.
    bool Load(const std::vector<RegFileKey>& keys, std::wstring* message);
    // The sections that describe the whole tree, parents before children.
    std::vector<RegFileKey> Save() const;

private:
    bool LoadKey(const RegFileKey& key, std::wstring* message);
    void SaveNode(const Node& node, const std::wstring& path, std::vector<RegFileKey>* keys) const;

    std::wstring rootName_;
    Node root_;
};

// Splits a subkey path at its backslashes. A trailing backslash is ignored;
// any other empty name gives 161, a name too long or not storable 87.
uint32_t SplitRegistryPath(const std::wstring& subkey, CRegistryTree::Path* path);

}  // namespace kx::platform
