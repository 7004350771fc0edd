#pragma once
// GUIDs as the registry writes them: braces, 8-4-4-4-12 upper-case
// hexadecimal digits (StringFromGUID2), over the 16 bytes of a GUID in memory.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

using Guid = std::array<uint8_t, 16>;

std::wstring FormatGuid(const Guid& guid);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", either letter case; false (and
// the all-zero GUID) for anything else.
bool ParseGuid(std::wstring_view text, Guid& guid);

}  // namespace kx
