#pragma once
// A registry of the test's own.
//
// Linux: a machine root in a temporary folder, so every sandbox starts with
// an empty registry. Windows (the build's Wine prefix): the real registry;
// the agent's settings keys and any keys the test names are saved, removed
// for the test and put back afterwards, and the scratch key is removed.

#include <memory>
#include <string>
#include <vector>

#include "TempDirectory.h"
#include "common/RegFile.h"

class CRegistrySandbox {
public:
    // extraKeys: full paths ("HKEY_LOCAL_MACHINE\SOFTWARE\X") the test uses.
    explicit CRegistrySandbox(std::vector<std::wstring> extraKeys = {});
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
