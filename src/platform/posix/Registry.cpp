#include "platform/Registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/MachineRoot.h"
#include "platform/posix/RegistryStore.h"

namespace kx::platform {
namespace {

constexpr std::size_t kMaxValueNameLength = 16383;
constexpr uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey;

// An opened key: the root file it lives in and its path below the root.
struct OpenedKey {
    std::shared_ptr<CRegistryStore> store;
    CRegistryTree::Path path;
    uint32_t access = 0;
};

std::mutex g_mutex;                                               // guards the two maps
std::map<std::string, std::shared_ptr<CRegistryStore>> g_stores;  // by file path
std::unordered_map<RegistryKeyHandle, std::unique_ptr<OpenedKey>> g_handles;

// The store of a predefined root under the current machine root. Stores of
// roots that are no longer in use (tests switch machine roots) are dropped.
std::shared_ptr<CRegistryStore> StoreFor(const std::wstring& rootName) {
    std::string path = WideToUtf8(GetMachineRoot() + L"/Registry/" + rootName + L".reg");
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_stores.find(path);
    if (found != g_stores.end()) return found->second;
    std::erase_if(g_stores, [](const auto& entry) { return entry.second.use_count() == 1; });
    auto store = std::make_shared<CRegistryStore>(path, rootName);
    g_stores.emplace(path, store);
    return store;
}

// The key behind a handle, or an error for a handle that is not open.
uint32_t Resolve(RegistryKeyHandle handle, OpenedKey* key) {
    std::wstring rootName = PredefinedRegistryKeyName(handle);
    if (!rootName.empty()) {
        *key = OpenedKey{StoreFor(rootName), {}, kKeyAllAccess};
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_handles.find(handle);
    if (found == g_handles.end()) return kRegistryInvalidHandle;
    *key = *found->second;
    return 0;
}

RegistryKeyHandle NewHandle(OpenedKey key) {
    auto opened = std::make_unique<OpenedKey>(std::move(key));
    RegistryKeyHandle handle = reinterpret_cast<RegistryKeyHandle>(opened.get());
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handles.emplace(handle, std::move(opened));
    return handle;
}

// Resolves the handle, checks its rights and the path joined to it.
uint32_t Prepare(RegistryKeyHandle handle, uint32_t rights, const std::wstring& subkey,
                 OpenedKey* key) {
    if (uint32_t status = Resolve(handle, key); status != 0) return status;
    if ((key->access & rights) != rights) return kRegistryAccessDenied;
    CRegistryTree::Path more;
    if (uint32_t status = SplitRegistryPath(subkey, &more); status != 0) return status;
    key->path.insert(key->path.end(), more.begin(), more.end());
    return 0;
}

uint32_t CheckValueName(const std::wstring& name) {
    return name.size() > kMaxValueNameLength || !IsRegFileName(name) ? kRegistryInvalidParameter
                                                                     : 0;
}

// The node of an opened key inside a reader; a key removed meanwhile is 1018.
template <typename Tree, typename Action>
uint32_t WithNode(Tree& tree, const OpenedKey& key, Action action) {
    auto* node = tree.Find(key.path);
    return node ? action(*node) : kRegistryKeyDeleted;
}

uint32_t OpenWithAccess(const OpenedKey& key, uint32_t access, RegistryKeyHandle* result) {
    if ((access & kWriteRights) != 0 && !key.store->WriteAllowed()) return kRegistryAccessDenied;
    *result = NewHandle(OpenedKey{key.store, key.path, access});
    return 0;
}

}  // namespace

uint32_t RegistryCreateKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t access,
                           RegistryKeyHandle* result) {
    OpenedKey key;
    if (uint32_t status = Prepare(parent, 0, subkey, &key); status != 0) return status;
    bool mayCreate = (key.access & kKeyCreateSubKey) != 0;
    // Most calls find the key there: no need to take the writers' lock for them.
    uint32_t status = key.store->Read([&](const CRegistryTree& tree) -> uint32_t {
        return tree.Find(key.path) ? 0 : kRegistryFileNotFound;
    });
    if (status == 0) return OpenWithAccess(key, access, result);
    if (status != kRegistryFileNotFound) return status;
    status = key.store->Update([&](CRegistryTree& tree, bool* changed) -> uint32_t {
        if (tree.Find(key.path)) return 0;
        if (!mayCreate) return kRegistryAccessDenied;
        tree.Create(key.path, changed);
        return 0;
    });
    return status != 0 ? status : OpenWithAccess(key, access, result);
}

uint32_t RegistryOpenKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t access,
                         RegistryKeyHandle* result) {
    OpenedKey key;
    if (uint32_t status = Prepare(parent, 0, subkey, &key); status != 0) return status;
    uint32_t status = key.store->Read([&](const CRegistryTree& tree) -> uint32_t {
        return tree.Find(key.path) ? 0 : kRegistryFileNotFound;
    });
    return status != 0 ? status : OpenWithAccess(key, access, result);
}

uint32_t RegistryQueryValue(RegistryKeyHandle handle, const std::wstring& name, uint32_t* type,
                            void* data, uint32_t* size) {
    if (data && !size) return kRegistryInvalidParameter;
    OpenedKey key;
    if (uint32_t status = Prepare(handle, kKeyQueryValue, L"", &key); status != 0) return status;
    return key.store->Read([&](const CRegistryTree& tree) {
        return WithNode(tree, key, [&](const CRegistryTree::Node& node) -> uint32_t {
            const RegistryValue* value = node.FindValue(name);
            if (!value) return kRegistryFileNotFound;
            if (type) *type = value->type;
            if (!size) return 0;
            uint32_t available = *size;
            *size = static_cast<uint32_t>(value->data.size());
            if (!data) return 0;
            if (available < value->data.size()) return kRegistryMoreData;
            std::memcpy(data, value->data.data(), value->data.size());
            return 0;
        });
    });
}

uint32_t RegistrySetValue(RegistryKeyHandle handle, const std::wstring& name, uint32_t type,
                          const void* data, uint32_t size) {
    if (uint32_t status = CheckValueName(name); status != 0) return status;
    if (!data && size > 0) return kRegistryInvalidParameter;
    OpenedKey key;
    if (uint32_t status = Prepare(handle, kKeySetValue, L"", &key); status != 0) return status;
    RegistryValue value{name, type, std::string(static_cast<const char*>(data), size)};
    return key.store->Update([&](CRegistryTree& tree, bool* changed) {
        return WithNode(tree, key, [&](CRegistryTree::Node& node) -> uint32_t {
            const RegistryValue* existing = node.FindValue(name);
            *changed = !existing || existing->type != type || existing->data != value.data;
            if (*changed) node.SetValue(value);
            return 0;
        });
    });
}

uint32_t RegistryEnumKey(RegistryKeyHandle handle, uint32_t index, wchar_t* name,
                         uint32_t capacity) {
    OpenedKey key;
    if (uint32_t status = Prepare(handle, kKeyEnumerateSubKeys, L"", &key); status != 0) {
        return status;
    }
    return key.store->Read([&](const CRegistryTree& tree) {
        return WithNode(tree, key, [&](const CRegistryTree::Node& node) -> uint32_t {
            if (index >= node.children.size()) return kRegistryNoMoreItems;
            const std::wstring& childName = std::next(node.children.begin(), index)->second->name;
            if (childName.size() + 1 > capacity) return kRegistryMoreData;
            std::copy(childName.begin(), childName.end(), name);
            name[childName.size()] = L'\0';
            return 0;
        });
    });
}

uint32_t RegistryEnumValue(RegistryKeyHandle handle, uint32_t index, RegistryValue* value) {
    OpenedKey key;
    if (uint32_t status = Prepare(handle, kKeyQueryValue, L"", &key); status != 0) return status;
    return key.store->Read([&](const CRegistryTree& tree) {
        return WithNode(tree, key, [&](const CRegistryTree::Node& node) -> uint32_t {
            if (index >= node.values.size()) return kRegistryNoMoreItems;
            *value = node.values[index];
            return 0;
        });
    });
}

uint32_t RegistryQueryInfoKey(RegistryKeyHandle handle, RegistryKeyInfo* info) {
    OpenedKey key;
    if (uint32_t status = Prepare(handle, kKeyQueryValue, L"", &key); status != 0) return status;
    return key.store->Read([&](const CRegistryTree& tree) {
        return WithNode(tree, key, [&](const CRegistryTree::Node& node) -> uint32_t {
            *info = RegistryKeyInfo{};
            info->subkeyCount = static_cast<uint32_t>(node.children.size());
            info->valueCount = static_cast<uint32_t>(node.values.size());
            for (const auto& [lowerName, child] : node.children) {
                info->maxSubkeyLength =
                    std::max(info->maxSubkeyLength, static_cast<uint32_t>(child->name.size()));
            }
            for (const RegistryValue& value : node.values) {
                info->maxValueNameLength =
                    std::max(info->maxValueNameLength, static_cast<uint32_t>(value.name.size()));
                info->maxValueDataSize =
                    std::max(info->maxValueDataSize, static_cast<uint32_t>(value.data.size()));
            }
            return 0;
        });
    });
}

uint32_t RegistryDeleteKey(RegistryKeyHandle parent, const std::wstring& subkey, uint32_t) {
    OpenedKey key;
    if (uint32_t status = Prepare(parent, 0, subkey, &key); status != 0) return status;
    if (key.path.empty() || !key.store->WriteAllowed()) return kRegistryAccessDenied;
    return key.store->Update([&](CRegistryTree& tree, bool* changed) -> uint32_t {
        const CRegistryTree::Node* node = tree.Find(key.path);
        if (!node) return kRegistryFileNotFound;
        // As on Windows, only a key without subkeys goes; RegistryDeleteTree takes the rest.
        if (!node->children.empty()) return kRegistryAccessDenied;
        *changed = tree.Remove(key.path);
        return 0;
    });
}

uint32_t RegistryDeleteTree(RegistryKeyHandle parent, const std::wstring& subkey) {
    OpenedKey key;
    if (uint32_t status = Prepare(parent, 0, subkey, &key); status != 0) return status;
    if (!key.store->WriteAllowed()) return kRegistryAccessDenied;
    return key.store->Update([&](CRegistryTree& tree, bool* changed) -> uint32_t {
        CRegistryTree::Node* node = tree.Find(key.path);
        if (!node) return kRegistryFileNotFound;
        if (key.path.empty()) {
            // The root itself stays; what is below it goes.
            *changed = !node->children.empty() || !node->values.empty();
            tree.Clear();
        } else {
            *changed = tree.Remove(key.path);
        }
        return 0;
    });
}

uint32_t RegistryDeleteValue(RegistryKeyHandle handle, const std::wstring& name) {
    OpenedKey key;
    if (uint32_t status = Prepare(handle, kKeySetValue, L"", &key); status != 0) return status;
    return key.store->Update([&](CRegistryTree& tree, bool* changed) {
        return WithNode(tree, key, [&](CRegistryTree::Node& node) -> uint32_t {
            *changed = node.RemoveValue(name);
            return *changed ? 0 : kRegistryFileNotFound;
        });
    });
}

uint32_t RegistryConnect(const std::wstring& machine, RegistryKeyHandle predefined,
                         RegistryKeyHandle* result) {
    std::wstring name = machine;
    while (!name.empty() && name.front() == L'\\') name.erase(0, 1);
    // Only this computer's registry exists here; every other one is out of reach.
    if (!name.empty() && !EqualsNoCase(name, GetLocalComputerName())) return kRegistryBadNetPath;
    std::wstring rootName = PredefinedRegistryKeyName(predefined);
    if (rootName.empty()) return kRegistryInvalidHandle;
    *result = NewHandle(OpenedKey{StoreFor(rootName), {}, kKeyAllAccess});
    return 0;
}

uint32_t RegistryFlushKey(RegistryKeyHandle handle) {
    OpenedKey key;
    return Resolve(handle, &key);
}

uint32_t RegistryCloseKey(RegistryKeyHandle handle) {
    if (!PredefinedRegistryKeyName(handle).empty()) return 0;
    std::unique_ptr<OpenedKey> closed;  // released outside the lock
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_handles.find(handle);
    if (found == g_handles.end()) return kRegistryInvalidHandle;
    closed = std::move(found->second);
    g_handles.erase(found);
    return 0;
}

}  // namespace kx::platform
