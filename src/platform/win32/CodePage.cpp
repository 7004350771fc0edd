#include "platform/CodePage.h"

#include <windows.h>

namespace kx::platform {
namespace {

UINT CodePageOf(AnsiCodePage page) {
    return page == AnsiCodePage::Thread ? CP_THREAD_ACP : CP_ACP;
}

}  // namespace

std::string WideToAnsi(std::wstring_view text, AnsiCodePage page) {
    if (text.empty()) return std::string();
    int length = static_cast<int>(text.size());
    int needed =
        WideCharToMultiByte(CodePageOf(page), 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CodePageOf(page), 0, text.data(), length, out.data(), needed, nullptr,
                        nullptr);
    return out;
}

std::wstring AnsiToWide(std::string_view text, AnsiCodePage page) {
    if (text.empty()) return std::wstring();
    int length = static_cast<int>(text.size());
    int needed =
        MultiByteToWideChar(CodePageOf(page), MB_PRECOMPOSED, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CodePageOf(page), MB_PRECOMPOSED, text.data(), length, out.data(), needed);
    return out;
}

}  // namespace kx::platform
