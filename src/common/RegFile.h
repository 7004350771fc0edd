#pragma once
// The ".reg" text format that administrators know from the registry editor
// ("Windows Registry Editor Version 5.00"): sections of keys, each followed by
// its values. Strings are written quoted, 32-bit values as dword:, everything
// else (and strings that a quoted form cannot hold exactly) as hex bytes.
// The Linux registry keeps its files in this format; the operator tool
// imports and exports it on both platforms.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

struct RegFileValue {
    std::wstring name;    // empty for the key's default value ("@")
    uint32_t type = 0;    // registry type (REG_SZ = 1 ...)
    std::string data;     // the bytes the registry holds; strings in UTF-16LE
    bool remove = false;  // "name"=- : the value is to be deleted
};

struct RegFileKey {
    std::wstring path;    // the full path, root included: HKEY_LOCAL_MACHINE\SOFTWARE\...
    bool remove = false;  // [-path] : the key and all below it are to be deleted
    std::vector<RegFileValue> values;
};

struct RegFileError {
    int line = 0;  // 1-based; 0 when the whole file is at fault
    std::wstring message;
};

// Reads a file in UTF-16LE with its byte-order mark (as the registry editor
// writes it) or in UTF-8 (with or without one). Sections come in file order;
// a key named twice appears twice. False, with the first fault, when any line
// cannot be understood.
bool ParseRegFile(std::string_view bytes, std::vector<RegFileKey>* keys, RegFileError* error);

// The file for the keys, in UTF-8 with LF line ends, long hex data wrapped
// as the registry editor does.
std::string FormatRegFile(const std::vector<RegFileKey>& keys);

// The bytes of a string value: UTF-16LE with a terminating NUL.
std::string RegStringData(std::wstring_view text);
// REG_MULTI_SZ bytes: each string with its NUL, and one more NUL at the end.
std::string RegMultiStringData(const std::vector<std::wstring>& strings);
// The 4 little-endian bytes of a REG_DWORD.
std::string RegDwordData(uint32_t value);

// A key name or value name that a ".reg" file can hold: no control
// characters and no unpaired surrogates.
bool IsRegFileName(std::wstring_view name);

}  // namespace kx
