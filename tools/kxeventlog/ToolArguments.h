#pragma once
// The tool's command line: a command, "--name value" options, "--flag"
// switches and plain arguments ("--" ends the options). Typed getters check
// ranges and throw CToolError with a usage exit code.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CToolArguments {
public:
    // flags: the switches that take no value.
    CToolArguments(const std::vector<std::wstring>& arguments, const std::set<std::wstring>& flags);

    const std::wstring& Command() const { return command_; }
    const std::vector<std::wstring>& Plain() const { return plain_; }
    bool Has(const std::wstring& name) const;
    bool Flag(const std::wstring& name) const { return flags_.count(name) > 0; }
    std::wstring Text(const std::wstring& name, const std::wstring& fallback) const;
    std::wstring RequiredText(const std::wstring& name) const;
    // Decimal, or hexadecimal after "0x"; within [low, high].
    std::optional<uint64_t> Number(const std::wstring& name, uint64_t low, uint64_t high) const;
    // Fails when an option that the command does not know was given.
    void AllowOnly(const std::set<std::wstring>& known) const;

private:
    std::wstring command_;
    std::map<std::wstring, std::wstring> options_;
    std::set<std::wstring> flags_;
    std::vector<std::wstring> plain_;
};

// The same number rules, for values that are not options.
uint64_t ParseToolNumber(const std::wstring& what, const std::wstring& text, uint64_t low,
                         uint64_t high);
