#include "platform/CaseMapping.h"

#include <windows.h>

namespace kx::platform {
namespace {

wchar_t MapInvariant(wchar_t c, DWORD flags) {
    wchar_t out = c;
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, flags, &c, 1, &out, 1, nullptr, nullptr, 0) != 1)
        return c;
    return out;
}

}  // namespace

wchar_t LowerNonAscii(wchar_t c) {
    return MapInvariant(c, LCMAP_LOWERCASE);
}

wchar_t UpperNonAscii(wchar_t c) {
    return MapInvariant(c, LCMAP_UPPERCASE);
}

}  // namespace kx::platform
