#include "platform/CaseMapping.h"

#include <locale.h>
#include <wctype.h>

namespace kx::platform {
namespace {

// C.UTF-8 tables whatever the process locale; the C locale maps ASCII only.
locale_t Utf8Locale() {
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return locale;
}

}  // namespace

wchar_t LowerNonAscii(wchar_t c) {
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), Utf8Locale()));
}

wchar_t UpperNonAscii(wchar_t c) {
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), Utf8Locale()));
}

}  // namespace kx::platform
