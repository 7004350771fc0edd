#include "ToolArguments.h"

#include "ToolError.h"
#include "common/Format.h"

CToolArguments::CToolArguments(const std::vector<std::wstring>& arguments,
                               const std::set<std::wstring>& flags) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (i == 0) {
            command_ = argument;
        } else if (!optionsEnded && argument == L"--") {
            optionsEnded = true;
        } else if (optionsEnded || argument.size() < 3 || argument.compare(0, 2, L"--") != 0) {
            plain_.push_back(argument);
        } else if (flags.count(argument.substr(2))) {
            flags_.insert(argument.substr(2));
        } else if (i + 1 < arguments.size()) {
            options_[argument.substr(2)] = arguments[++i];
        } else {
            throw CToolError(kExitUsage, kx::Format(L"%s needs a value", argument));
        }
    }
}

bool CToolArguments::Has(const std::wstring& name) const {
    return options_.count(name) > 0;
}

std::wstring CToolArguments::Text(const std::wstring& name, const std::wstring& fallback) const {
    auto found = options_.find(name);
    return found == options_.end() ? fallback : found->second;
}

std::wstring CToolArguments::RequiredText(const std::wstring& name) const {
    auto found = options_.find(name);
    if (found == options_.end() || found->second.empty())
        throw CToolError(kExitUsage, kx::Format(L"--%s is required", name));
    return found->second;
}

std::optional<uint64_t> CToolArguments::Number(const std::wstring& name, uint64_t low,
                                               uint64_t high) const {
    auto found = options_.find(name);
    if (found == options_.end()) return std::nullopt;
    return ParseToolNumber(L"--" + name, found->second, low, high);
}

void CToolArguments::AllowOnly(const std::set<std::wstring>& known) const {
    for (const auto& [name, value] : options_) {
        if (!known.count(name))
            throw CToolError(kExitUsage,
                             kx::Format(L"--%s is not an option of %s", name, command_));
    }
    for (const std::wstring& name : flags_) {
        if (!known.count(name))
            throw CToolError(kExitUsage,
                             kx::Format(L"--%s is not an option of %s", name, command_));
    }
}

uint64_t ParseToolNumber(const std::wstring& what, const std::wstring& text, uint64_t low,
                         uint64_t high) {
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const std::size_t start = hex ? 2 : 0;
    const uint64_t base = hex ? 16 : 10;
    uint64_t value = 0;
    bool tooLarge = false;
    if (text.size() <= start)
        throw CToolError(kExitUsage, kx::Format(L"%s: '%s' is not a number", what, text));
    for (std::size_t i = start; i < text.size(); ++i) {
        wchar_t c = text[i];
        uint64_t digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<uint64_t>(c - L'0');
        } else if (hex && c >= L'a' && c <= L'f') {
            digit = static_cast<uint64_t>(c - L'a' + 10);
        } else if (hex && c >= L'A' && c <= L'F') {
            digit = static_cast<uint64_t>(c - L'A' + 10);
        } else {
            throw CToolError(kExitUsage, kx::Format(L"%s: '%s' is not a number", what, text));
        }
        if (value > (UINT64_MAX - digit) / base) tooLarge = true;
        value = value * base + digit;
    }
    if (tooLarge || value < low || value > high)
        throw CToolError(kExitUsage, kx::Format(L"%s: %s is out of range (%I64u to %I64u)", what,
                                                text, low, high));
    return value;
}
