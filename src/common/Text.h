#pragma once
// Text helpers. The core keeps text as std::wstring (UTF-16 on Windows, UTF-32
// on Linux); every byte form that leaves or enters the process is converted here,
// exactly and identically on both platforms.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// UTF-16 code units of a wide string. Lone surrogates survive a round trip.
std::u16string WideToUtf16(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);

// UTF-16LE bytes, no byte-order mark, no terminator.
std::string WideToUtf16LE(std::wstring_view text);
// Decodes byteCount bytes of UTF-16LE; an odd last byte is ignored.
std::wstring Utf16LEToWide(const void* bytes, std::size_t byteCount);

// UTF-8. Malformed input and lone surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);

// Case mapping that does not depend on the process locale.
wchar_t ToLowerChar(wchar_t c);
wchar_t ToUpperChar(wchar_t c);
std::wstring ToLower(std::wstring_view text);
std::wstring ToUpper(std::wstring_view text);

// Comparisons ignoring case (by lower-case mapping).
int CompareNoCase(std::wstring_view a, std::wstring_view b);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);
// Position of needle in text ignoring case, or std::wstring_view::npos.
std::size_t FindNoCase(std::wstring_view text, std::wstring_view needle);

// White space as the C library's "C" locale defines it: blank, \t \n \v \f \r.
bool IsSpace(wchar_t c);
std::wstring Trim(std::wstring_view text);

// Every occurrence of from (not empty) in text replaced by to, left to right;
// replacements are not searched again.
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to);

// The value of c as a digit of base 10 or 16 (letters in either case), or -1.
int DigitValue(wchar_t c, unsigned base);

// Decimal conversion as atoi does it: optional white space and sign, then
// digits up to the first other character; no digits gives 0. Saturates at the
// 32-bit range instead of overflowing.
int32_t ParseDecimal(std::wstring_view text);

}  // namespace kx
