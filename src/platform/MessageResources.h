#pragma once
// Message files: resource-only modules loaded as data, and their messages
// formatted with inserts.
//   Windows: LoadLibraryExW(path, no file, LOAD_LIBRARY_AS_DATAFILE),
//            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | ALLOCATE_BUFFER and
//            ARGUMENT_ARRAY or IGNORE_INSERTS, module, id, language 0), FreeLibrary.
//   Linux:   the PE file's message table read into memory (common/PeMessageTable.h)
//            and formatted by FormatMessageW's rules (common/MessageText.h).
// On both, inserts are texts; an insert beyond the supplied ones stands for
// the text "%<number>" (Windows: the argument array is padded with such texts),
// and a directive that reads an insert as a number reads the number its
// text spells (common/MessageText.h). Errors are Win32 codes: 2 missing file,
// 193 not a PE image, 317 no such message, 1813 no message table, ...
//
// Linux paths: "C:\dir\file.dll" is the file "<machine root>/drive_c/dir/file.dll"
// (each part found ignoring case, as Windows finds it); a path that begins
// with "/" is taken as it is; "\\server\share\..." fails with 53.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/MessageText.h"

namespace kx::platform {

struct MessageModuleData;  // HMODULE on Windows
using MessageModuleHandle = MessageModuleData*;

// Null (and the last error set) when the file cannot be loaded.
MessageModuleHandle LoadMessageModule(const std::wstring& path);
void FreeMessageModule(MessageModuleHandle module);

// Returns 0 with the formatted text, or a Win32 error code (the last error is
// set too). Replace uses the inserts as the argument array (%1 is inserts[0]);
// Ignore leaves the inserts as written and takes no argument.
uint32_t FormatModuleMessage(MessageModuleHandle module, uint32_t messageId,
                             InsertHandling handling, std::span<const std::wstring> inserts,
                             std::wstring& text);

// FormatMessageW(FORMAT_MESSAGE_FROM_STRING, ...) with the same rules.
uint32_t FormatStringMessage(std::wstring_view format, InsertHandling handling,
                             std::span<const std::wstring> inserts, std::wstring& text);

}  // namespace kx::platform
