#pragma once
// Linux stands in for the machine's registry, event logs and service database
// with files under one root folder, so that tests and demos each get a
// machine of their own. Windows has no such root (the functions return empty).

#include <string>

namespace kx::platform {

// The root: $KX_MACHINE_ROOT when set; else /var/lib/korvex/machine for root,
// or $XDG_STATE_HOME/korvex/machine (~/.local/state/korvex/machine) for others.
// The folder is not created here.
std::wstring GetMachineRoot();
// Lets a test use a root of its own; empty restores the default.
void SetMachineRootForTesting(const std::wstring& root);

}  // namespace kx::platform
