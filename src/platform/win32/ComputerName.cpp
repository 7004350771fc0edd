#include "platform/ComputerName.h"

#include <windows.h>

namespace kx::platform {

std::wstring GetLocalComputerName() {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1 + 260] = {};
    DWORD size = static_cast<DWORD>(sizeof buffer / sizeof buffer[0]);
    if (!GetComputerNameW(buffer, &size)) return std::wstring();
    return std::wstring(buffer, size);
}

}  // namespace kx::platform
