#include "service/NTServiceCommandLineInfo.h"

#include <limits>

#include "common/Text.h"

namespace {

// The leading decimal digits; none gives 0, and a number too large for 32
// bits waits for ever rather than wrapping to a short time-out.
uint32_t LeadingDigits(std::wstring_view text) {
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') break;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
        if (value > std::numeric_limits<uint32_t>::max()) {
            return std::numeric_limits<uint32_t>::max();
        }
    }
    return static_cast<uint32_t>(value);
}

struct Keyword {
    const wchar_t* text;
    uint32_t command;
};

constexpr Keyword kCommands[] = {
    {L"install", CNTServiceCommandLineInfo::kInstallService},
    {L"start", CNTServiceCommandLineInfo::kStartService},
    {L"pause", CNTServiceCommandLineInfo::kPauseService},
    {L"continue", CNTServiceCommandLineInfo::kContinueService},
    {L"stop", CNTServiceCommandLineInfo::kStopService},
    {L"remove", CNTServiceCommandLineInfo::kUninstallService},
    {L"uninstall", CNTServiceCommandLineInfo::kUninstallService},
    {L"debug", CNTServiceCommandLineInfo::kDebugService},
    {L"help", CNTServiceCommandLineInfo::kShowServiceHelp},
    {L"?", CNTServiceCommandLineInfo::kShowServiceHelp},
};

}  // namespace

void CNTServiceCommandLineInfo::ParseParam(const std::wstring& param, bool flag, bool) {
    if (!flag) return;
    for (const Keyword& keyword : kCommands) {
        if (kx::EqualsNoCase(param, keyword.text)) {
            command = keyword.command;
            return;
        }
    }
    if (kx::EqualsNoCase(param, L"silent") || kx::EqualsNoCase(param, L"quiet") ||
        kx::EqualsNoCase(param, L"q")) {
        silent = 1;
    } else if (param.size() > 2 && kx::StartsWithNoCase(param, L"t:")) {
        timeout = LeadingDigits(std::wstring_view(param).substr(2));
    }
}
