#include "common/Format.h"

#include "common/Text.h"

namespace kx {
namespace {

struct Directive {
    bool leftAlign = false;
    bool zeroPad = false;
    bool plusSign = false;
    bool blankSign = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
    bool wide64 = false;
    bool half = false;
    wchar_t conversion = 0;
};

class Formatter {
public:
    Formatter(std::wstring_view format, const FormatArg* args, std::size_t count)
        : format_(format), args_(args), count_(count) {}

    std::wstring Run() {
        while (pos_ < format_.size()) {
            wchar_t c = format_[pos_++];
            if (c != L'%') {
                out_.push_back(c);
            } else {
                Conversion();
            }
        }
        return out_;
    }

private:
    const FormatArg* NextArg() { return next_ < count_ ? &args_[next_++] : nullptr; }
    bool More() const { return pos_ < format_.size(); }
    wchar_t Peek() const { return format_[pos_]; }

    void Conversion() {
        std::size_t start = pos_ - 1;
        Directive directive;
        ParseFlags(directive);
        directive.width = ParseNumber(true, directive);
        if (More() && Peek() == L'.') {
            ++pos_;
            directive.precision = ParseNumber(false, directive);
            if (directive.precision < 0) directive.precision = 0;
        }
        ParseLength(directive);
        if (!More()) {
            out_.append(format_.substr(start));
            return;
        }
        directive.conversion = format_[pos_++];
        Emit(directive, start);
    }

    void ParseFlags(Directive& directive) {
        for (; More(); ++pos_) {
            switch (Peek()) {
                case L'-':
                    directive.leftAlign = true;
                    break;
                case L'0':
                    directive.zeroPad = true;
                    break;
                case L'+':
                    directive.plusSign = true;
                    break;
                case L' ':
                    directive.blankSign = true;
                    break;
                case L'#':
                    directive.alternate = true;
                    break;
                default:
                    return;
            }
        }
    }

    int ParseNumber(bool isWidth, Directive& directive) {
        if (More() && Peek() == L'*') {
            ++pos_;
            const FormatArg* arg = NextArg();
            int value = arg ? static_cast<int>(static_cast<int32_t>(arg->AsSigned())) : 0;
            if (isWidth && value < 0) {
                directive.leftAlign = true;
                value = -value;
            }
            return value;
        }
        int value = 0;
        while (More() && Peek() >= L'0' && Peek() <= L'9') {
            if (value < 100000) value = value * 10 + (Peek() - L'0');
            ++pos_;
        }
        return value;
    }

    void ParseLength(Directive& directive) {
        auto startsWith = [&](std::wstring_view text) {
            return format_.substr(pos_, text.size()) == text;
        };
        if (startsWith(L"I64") || startsWith(L"ll")) {
            directive.wide64 = true;
            pos_ += startsWith(L"ll") ? 2 : 3;
        } else if (startsWith(L"I32")) {
            pos_ += 3;
        } else if (startsWith(L"hh") || startsWith(L"h")) {
            directive.half = true;
            pos_ += startsWith(L"hh") ? 2 : 1;
        } else if (More() &&
                   (Peek() == L'l' || Peek() == L'z' || Peek() == L'L' || Peek() == L'w')) {
            ++pos_;
        }
    }

    void Emit(const Directive& directive, std::size_t start) {
        switch (directive.conversion) {
            case L'%':
                out_.push_back(L'%');
                return;
            case L'd':
            case L'i':
                EmitSigned(directive);
                return;
            case L'u':
            case L'x':
            case L'X':
            case L'o':
                EmitUnsigned(directive);
                return;
            case L'p':
                EmitPointer(directive);
                return;
            case L'c':
                EmitCharacter(directive);
                return;
            case L's':
            case L'S':
                EmitText(directive);
                return;
            default:
                out_.append(format_.substr(start, pos_ - start));
                return;
        }
    }

    // A number conversion given text prints the text rather than garbage.
    const FormatArg* NextNumberArg(const Directive& directive) {
        const FormatArg* arg = NextArg();
        if (arg && (arg->kind() == FormatArg::Kind::WideText ||
                    arg->kind() == FormatArg::Kind::NarrowText)) {
            Pad(directive, arg->AsText());
            return nullptr;
        }
        return arg;
    }

    void EmitSigned(const Directive& directive) {
        const FormatArg* arg = NextNumberArg(directive);
        if (!arg) return;
        int64_t value = arg->AsSigned();
        if (!directive.wide64)
            value = directive.half ? static_cast<int16_t>(value) : static_cast<int32_t>(value);
        uint64_t magnitude =
            value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        std::wstring sign = value < 0             ? L"-"
                            : directive.plusSign  ? L"+"
                            : directive.blankSign ? L" "
                                                  : L"";
        EmitNumber(directive, sign, Digits(magnitude, 10, false));
    }

    void EmitUnsigned(const Directive& directive) {
        const FormatArg* arg = NextNumberArg(directive);
        if (!arg) return;
        uint64_t value = arg->AsUnsigned();
        if (!directive.wide64)
            value = directive.half ? static_cast<uint16_t>(value) : static_cast<uint32_t>(value);
        unsigned base = directive.conversion == L'o' ? 8 : directive.conversion == L'u' ? 10 : 16;
        std::wstring prefix;
        if (directive.alternate && value != 0 && base == 16)
            prefix = directive.conversion == L'X' ? L"0X" : L"0x";
        if (directive.alternate && base == 8) prefix = L"0";
        EmitNumber(directive, prefix, Digits(value, base, directive.conversion == L'X'));
    }

    void EmitPointer(const Directive& directive) {
        const FormatArg* arg = NextArg();
        if (!arg) return;
        std::wstring digits = Digits(arg->AsUnsigned(), 16, true);
        digits.insert(0,
                      sizeof(void*) * 2 -
                          (digits.size() < sizeof(void*) * 2 ? digits.size() : sizeof(void*) * 2),
                      L'0');
        Pad(directive, digits);
    }

    void EmitCharacter(const Directive& directive) {
        const FormatArg* arg = NextArg();
        if (!arg) return;
        std::wstring text;
        if (arg->kind() == FormatArg::Kind::WideText ||
            arg->kind() == FormatArg::Kind::NarrowText) {
            std::wstring all = arg->AsText();
            if (!all.empty()) text.push_back(all[0]);
        } else {
            text.push_back(static_cast<wchar_t>(arg->AsUnsigned()));
        }
        Pad(directive, text);
    }

    void EmitText(const Directive& directive) {
        const FormatArg* arg = NextArg();
        if (!arg) return;
        std::wstring text = arg->AsText();
        if (directive.precision >= 0 &&
            text.size() > static_cast<std::size_t>(directive.precision)) {
            text.resize(directive.precision);
        }
        Pad(directive, text);
    }

    static std::wstring Digits(uint64_t value, unsigned base, bool upper) {
        const wchar_t* symbols = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
        std::wstring digits;
        do {
            digits.insert(digits.begin(), symbols[value % base]);
            value /= base;
        } while (value != 0);
        return digits;
    }

    void EmitNumber(const Directive& directive, const std::wstring& prefix, std::wstring digits) {
        if (directive.precision >= 0) {
            if (directive.precision == 0 && digits == L"0") digits.clear();
            if (digits.size() < static_cast<std::size_t>(directive.precision)) {
                digits.insert(0, directive.precision - digits.size(), L'0');
            }
        }
        bool zeroFill = directive.zeroPad && !directive.leftAlign && directive.precision < 0;
        std::size_t length = prefix.size() + digits.size();
        if (zeroFill && length < static_cast<std::size_t>(directive.width)) {
            digits.insert(0, directive.width - length, L'0');
        }
        Pad(directive, prefix + digits);
    }

    void Pad(const Directive& directive, const std::wstring& text) {
        std::size_t width = static_cast<std::size_t>(directive.width);
        if (text.size() >= width) {
            out_.append(text);
        } else if (directive.leftAlign) {
            out_.append(text);
            out_.append(width - text.size(), L' ');
        } else {
            out_.append(width - text.size(), L' ');
            out_.append(text);
        }
    }

    std::wstring_view format_;
    const FormatArg* args_;
    std::size_t count_;
    std::size_t pos_ = 0;
    std::size_t next_ = 0;
    std::wstring out_;
};

}  // namespace

std::wstring FormatArg::AsText() const {
    switch (kind_) {
        case Kind::WideText:
            return std::wstring(wide_);
        case Kind::NarrowText:
            return Utf8ToWide(narrow_);
        case Kind::Character:
            return std::wstring(1, static_cast<wchar_t>(unsigned_));
        case Kind::Signed:
            return std::to_wstring(signed_);
        case Kind::Unsigned:
        case Kind::Pointer:
            return std::to_wstring(unsigned_);
    }
    return std::wstring();
}

std::wstring FormatArgs(std::wstring_view format, const FormatArg* args, std::size_t count) {
    return Formatter(format, args, count).Run();
}

}  // namespace kx
