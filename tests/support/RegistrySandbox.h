#pragma once
// A registry of the test's own.
//
// Linux: a machine root in a temporary folder, so every sandbox starts with
// an empty registry. Windows (the build's Wine prefix): the real registry;
// the keys the test names are saved, removed for the test and put back
// afterwards, and the scratch key is removed. Test executables that name the
// same keys must not run at the same time (a ctest resource lock).

#include <memory>
#include <string>
#include <vector>

#include "TempDirectory.h"
#include "common/RegFile.h"

class CRegistrySandbox {
public:
    // keys: full paths ("HKEY_LOCAL_MACHINE\SOFTWARE\X") the test changes
    // besides its scratch key.
    explicit CRegistrySandbox(std::vector<std::wstring> keys = {});

    // The tops of the agent's policy key and product key.
    static std::vector<std::wstring> SettingsKeys();
    ~CRegistrySandbox();
    CRegistrySandbox(const CRegistrySandbox&) = delete;
    CRegistrySandbox& operator=(const CRegistrySandbox&) = delete;

    // A key below HKEY_CURRENT_USER that belongs to this sandbox alone
    // (it does not exist at first).
    const std::wstring& ScratchKey() const { return scratchKey_; }
    // The folder of the machine root on Linux; empty on Windows.
    std::wstring MachineRoot() const;

private:
    struct SavedKey {
        std::wstring path;
        bool existed = false;
        std::vector<kx::RegFileKey> content;
    };
    void Clear();

    std::unique_ptr<CTempDirectory> root_;
    std::wstring scratchKey_;
    std::vector<SavedKey> saved_;
};
