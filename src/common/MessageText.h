#pragma once
// Message texts as message resources hold them, formatted by FormatMessageW's
// rules (width 0: the text's own line breaks are kept, as CR LF):
//   %1 .. %99          an insert, optionally with a printf directive in
//                      exclamation marks (%1!d!, %2!-10s!, %3!.*s!);
//   %n  %r  %t         CR LF, CR, tab;      %0  the text ends here;
//   %<any other>       that character (%% gives %, %. gives ., %! gives !);
//   a lone % at the end is an error (87); an empty result is an error (235).
// With inserts ignored, the inserts and the %<other> pairs stay as written;
// %n, %r, %t and %0 still apply.
//
// Inserts are texts. An insert that a directive reads as a number (d, i,
// u, x, X, o, p) stands for the number that its text spells (decimal or 0x
// hexadecimal, optional sign); one read as a character (c, C) stands for its
// first character. An insert beyond the supplied texts stands for the text
// "%<number>", so a message never reads past them and shows what is missing.
// The Linux message port formats with these functions; the Windows port uses
// the scan to hand FormatMessageW an argument array with the same meaning.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kx {

inline constexpr unsigned kMaxMessageInsert = 99;
// Widths beyond this are cut to it: a message file is input from outside and
// must not make one insert fill megabytes.
inline constexpr int kMaxMessageInsertWidth = 4096;

// A formatted text longer than this fails (8, not enough memory) rather than
// take the memory a hostile message file asks for.
inline constexpr std::size_t kMaxMessageLength = 1 << 20;

inline constexpr uint32_t kMessageErrorNotEnoughMemory = 8;
inline constexpr uint32_t kMessageErrorInvalidParameter = 87;
// The code FormatMessageW gives when the formatted text is empty.
inline constexpr uint32_t kMessageErrorEmptyText = 235;

enum class InsertHandling { Replace, Ignore };

// How a directive reads its insert.
enum class InsertReading : uint8_t {
    WideText = 1,   // s, ls, ws, and no directive
    AnsiText = 2,   // S, hs
    Number = 4,     // d i u x X o p, with or without a length prefix
    Character = 8,  // c, C
    Other = 16,     // anything else (floating point, n, unknown prefixes)
};

struct MessageInsertScan {
    // The highest insert number the text reads (0 when none).
    unsigned highest = 0;
    // Some directive takes a width or precision from an insert ("*").
    bool readsWidthFromInsert = false;
    // Per insert number (index 1..99): a mask of InsertReading values.
    std::array<uint8_t, kMaxMessageInsert + 2> readings{};
};

// Formats a message text. Returns 0 with the result, or a Win32 error code.
uint32_t FormatMessageText(std::wstring_view text, InsertHandling handling,
                           std::span<const std::wstring> inserts, std::wstring& result);

// Which inserts a message text reads and how.
MessageInsertScan ScanMessageInserts(std::wstring_view text);

// "%<number>": the text an insert beyond the supplied ones stands for.
std::wstring MissingInsertText(unsigned number);
// The value an insert's text stands for when read as a number or character.
int64_t InsertNumber(std::wstring_view text, InsertReading reading);

}  // namespace kx
