#include "platform/CodePage.h"

#include "common/Text.h"

namespace kx::platform {

// Linux has no ANSI code page; UTF-8 stands for it.
std::string WideToAnsi(std::wstring_view text, AnsiCodePage) {
    return WideToUtf8(text);
}

std::wstring AnsiToWide(std::string_view text, AnsiCodePage) {
    return Utf8ToWide(text);
}

}  // namespace kx::platform
