#pragma once
// printf-style formatting that gives the same text on Windows and Linux.
// Arguments are typed by the compiler, not by the format: %s takes any text,
// %d, %u, %x, %X, %o and %c take any integer. Integer conversions follow the
// Windows rules whatever the platform: without "ll" or "I64" the value is cut
// to 32 bits ("l" is 32 bits as on Windows), so %d of 0xFFFFFFFF gives -1.
// Supported: flags "-0+ #", width, precision, "*", length modifiers h, l, ll,
// I64, I32, z (ignored), conversions d i u x X o c s S p %. A missing argument
// gives nothing; an unknown conversion is copied as written.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace kx {

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, WideText, NarrowText, Character, Pointer };

    template <typename T>
    requires std::is_integral_v<T> &&
        (!std::is_same_v<T, wchar_t>)&&(!std::is_same_v<T, char>)FormatArg(T value) {
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            signed_ = value;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = value;
        }
    }
    template <typename T>
    requires std::is_enum_v<T> FormatArg(T value)
        : FormatArg(static_cast<std::underlying_type_t<T>>(value)) {}
    FormatArg(wchar_t c) : kind_(Kind::Character), unsigned_(static_cast<uint32_t>(c)) {}
    FormatArg(char c) : kind_(Kind::Character), unsigned_(static_cast<unsigned char>(c)) {}
    FormatArg(const wchar_t* text) : kind_(Kind::WideText), wide_(text ? text : L"(null)") {}
    FormatArg(const std::wstring& text) : kind_(Kind::WideText), wide_(text) {}
    FormatArg(std::wstring_view text) : kind_(Kind::WideText), wide_(text) {}
    FormatArg(const char* text) : kind_(Kind::NarrowText), narrow_(text ? text : "(null)") {}
    FormatArg(const std::string& text) : kind_(Kind::NarrowText), narrow_(text) {}
    FormatArg(const void* pointer)
        : kind_(Kind::Pointer), unsigned_(reinterpret_cast<uintptr_t>(pointer)) {}

    Kind kind() const { return kind_; }
    int64_t AsSigned() const {
        return kind_ == Kind::Signed ? signed_ : static_cast<int64_t>(unsigned_);
    }
    uint64_t AsUnsigned() const {
        return kind_ == Kind::Signed ? static_cast<uint64_t>(signed_) : unsigned_;
    }
    std::wstring AsText() const;

private:
    Kind kind_;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    std::wstring_view wide_;
    std::string_view narrow_;
};

std::wstring FormatArgs(std::wstring_view format, const FormatArg* args, std::size_t count);

template <typename... Args>
std::wstring Format(std::wstring_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatArgs(format, nullptr, 0);
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatArgs(format, list, sizeof...(Args));
    }
}

}  // namespace kx
