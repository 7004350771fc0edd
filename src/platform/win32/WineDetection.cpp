#include "platform/WineDetection.h"

#include <windows.h>

namespace kx::platform {

// Wine's ntdll exports wine_get_version; Windows' does not.
bool IsRunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kx::platform
