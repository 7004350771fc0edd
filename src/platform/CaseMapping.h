#pragma once
// Case mapping of characters outside ASCII, independent of the process
// locale: the invariant locale on Windows, C.UTF-8 tables on Linux.

namespace kx::platform {

wchar_t LowerNonAscii(wchar_t c);
wchar_t UpperNonAscii(wchar_t c);

}  // namespace kx::platform
