#include "platform/MachineRoot.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "common/Text.h"

namespace kx::platform {
namespace {

std::mutex g_mutex;
std::wstring g_override;

std::wstring DefaultRoot() {
    if (const char* root = std::getenv("KX_MACHINE_ROOT"); root && *root) return Utf8ToWide(root);
    if (geteuid() == 0) return L"/var/lib/korvex/machine";
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        return Utf8ToWide(state) + L"/korvex/machine";
    }
    const char* home = std::getenv("HOME");
    return Utf8ToWide(home && *home ? home : "/tmp") + L"/.local/state/korvex/machine";
}

}  // namespace

std::wstring GetMachineRoot() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_override.empty() ? DefaultRoot() : g_override;
}

void SetMachineRootForTesting(const std::wstring& root) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = root;
}

}  // namespace kx::platform
