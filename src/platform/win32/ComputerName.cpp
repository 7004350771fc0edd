#include "platform/ComputerName.h"

#include <windows.h>

namespace kx::platform {

std::wstring GetLocalComputerName() {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1 + 260] = {};
    DWORD size = static_cast<DWORD>(sizeof buffer / sizeof buffer[0]);
    if (!GetComputerNameW(buffer, &size)) return std::wstring();
    return std::wstring(buffer, size);
}

std::wstring GetLocalDnsDomain() {
    wchar_t buffer[256] = {};
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNamePhysicalDnsDomain, buffer, &size)) return std::wstring();
    buffer[255] = L'\0';
    return std::wstring(buffer);  // up to the first NUL
}

}  // namespace kx::platform
