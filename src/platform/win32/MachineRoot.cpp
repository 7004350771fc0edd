#include "platform/MachineRoot.h"

namespace kx::platform {

// Windows keeps its registry and logs itself: there is no machine root.
std::wstring GetMachineRoot() {
    return std::wstring();
}
void SetMachineRootForTesting(const std::wstring&) {}

}  // namespace kx::platform
