#include "RegistrySandbox.h"

#include "common/Format.h"
#include "config/RegistryTransfer.h"
#include "platform/MachineRoot.h"
#include "platform/Process.h"
#include "platform/Registry.h"

namespace reg = kx::platform;

std::vector<std::wstring> CRegistrySandbox::SettingsKeys() {
    return {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Talmor Software",
            L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenwick Corporation"};
}

CRegistrySandbox::CRegistrySandbox(std::vector<std::wstring> keys)
    : scratchKey_(kx::Format(L"Software\\Korvex Tests\\%u", reg::GetCurrentThreadIdentifier())) {
#ifdef _WIN32
    for (const std::wstring& path : keys) {
        SavedKey saved;
        saved.path = path;
        saved.existed = ExportRegistryKey(path, &saved.content) == 0;
        saved_.push_back(std::move(saved));
    }
#else
    (void)keys;  // every sandbox has a registry of its own
    root_ = std::make_unique<CTempDirectory>();
    reg::SetMachineRootForTesting(root_->WidePath());
#endif
    Clear();
}

CRegistrySandbox::~CRegistrySandbox() {
    Clear();
    std::wstring failedPath;
    for (const SavedKey& saved : saved_) {
        if (saved.existed) ImportRegistryKeys(saved.content, &failedPath);
    }
    if (root_) reg::SetMachineRootForTesting(L"");
}

std::wstring CRegistrySandbox::MachineRoot() const {
    return root_ ? root_->WidePath() : std::wstring();
}

void CRegistrySandbox::Clear() {
    reg::RegistryDeleteTree(reg::kHkeyCurrentUser, scratchKey_);
    for (const SavedKey& saved : saved_) {
        reg::RegistryKeyHandle root = 0;
        std::wstring subkey;
        if (ParseRegistryPath(saved.path, &root, &subkey)) reg::RegistryDeleteTree(root, subkey);
    }
}
