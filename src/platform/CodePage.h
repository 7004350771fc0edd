#pragma once
// The "ANSI code page": the system code page on Windows, UTF-8 on Linux.
// Characters the code page cannot hold get the platform's default replacement.

#include <string>
#include <string_view>

namespace kx::platform {

enum class AnsiCodePage { System, Thread };

std::string WideToAnsi(std::wstring_view text, AnsiCodePage page = AnsiCodePage::System);
std::wstring AnsiToWide(std::string_view text, AnsiCodePage page = AnsiCodePage::System);

}  // namespace kx::platform
