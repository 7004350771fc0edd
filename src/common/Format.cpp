#include "common/Format.h"

#include "common/Text.h"

namespace kx {
namespace {

struct Spec {
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
        Spec spec;
        ParseFlags(spec);
        spec.width = ParseNumber(true, spec);
        if (More() && Peek() == L'.') {
            ++pos_;
            spec.precision = ParseNumber(false, spec);
            if (spec.precision < 0) spec.precision = 0;
        }
        ParseLength(spec);
        if (!More()) {
            out_.append(format_.substr(start));
            return;
        }
        spec.conversion = format_[pos_++];
        Emit(spec, start);
    }

    void ParseFlags(Spec& spec) {
        for (; More(); ++pos_) {
            switch (Peek()) {
                case L'-':
                    spec.leftAlign = true;
                    break;
                case L'0':
                    spec.zeroPad = true;
                    break;
                case L'+':
                    spec.plusSign = true;
                    break;
                case L' ':
                    spec.blankSign = true;
                    break;
                case L'#':
                    spec.alternate = true;
                    break;
                default:
                    return;
            }
        }
    }

    int ParseNumber(bool isWidth, Spec& spec) {
        if (More() && Peek() == L'*') {
            ++pos_;
            const FormatArg* arg = NextArg();
            int value = arg ? static_cast<int>(static_cast<int32_t>(arg->AsSigned())) : 0;
            if (isWidth && value < 0) {
                spec.leftAlign = true;
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

    void ParseLength(Spec& spec) {
        auto startsWith = [&](std::wstring_view text) {
            return format_.substr(pos_, text.size()) == text;
        };
        if (startsWith(L"I64") || startsWith(L"ll")) {
            spec.wide64 = true;
            pos_ += startsWith(L"ll") ? 2 : 3;
        } else if (startsWith(L"I32")) {
            pos_ += 3;
        } else if (startsWith(L"hh") || startsWith(L"h")) {
            spec.half = true;
            pos_ += startsWith(L"hh") ? 2 : 1;
        } else if (More() &&
                   (Peek() == L'l' || Peek() == L'z' || Peek() == L'L' || Peek() == L'w')) {
            ++pos_;
        }
    }

    void Emit(const Spec& spec, std::size_t start) {
        switch (spec.conversion) {
            case L'%':
                out_.push_back(L'%');
                return;
            case L'd':
            case L'i':
                EmitSigned(spec);
                return;
            case L'u':
            case L'x':
            case L'X':
            case L'o':
                EmitUnsigned(spec);
                return;
            case L'p':
                EmitPointer(spec);
                return;
            case L'c':
                EmitCharacter(spec);
                return;
            case L's':
            case L'S':
                EmitText(spec);
                return;
            default:
                out_.append(format_.substr(start, pos_ - start));
                return;
        }
    }

    // A number conversion given text prints the text rather than garbage.
    const FormatArg* NextNumberArg(const Spec& spec) {
        const FormatArg* arg = NextArg();
        if (arg && (arg->kind() == FormatArg::Kind::WideText ||
                    arg->kind() == FormatArg::Kind::NarrowText)) {
            Pad(spec, arg->AsText());
            return nullptr;
        }
        return arg;
    }

    void EmitSigned(const Spec& spec) {
        const FormatArg* arg = NextNumberArg(spec);
        if (!arg) return;
        int64_t value = arg->AsSigned();
        if (!spec.wide64)
            value = spec.half ? static_cast<int16_t>(value) : static_cast<int32_t>(value);
        uint64_t magnitude =
            value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        std::wstring sign = value < 0 ? L"-" : spec.plusSign ? L"+" : spec.blankSign ? L" " : L"";
        EmitNumber(spec, sign, Digits(magnitude, 10, false));
    }

    void EmitUnsigned(const Spec& spec) {
        const FormatArg* arg = NextNumberArg(spec);
        if (!arg) return;
        uint64_t value = arg->AsUnsigned();
        if (!spec.wide64)
            value = spec.half ? static_cast<uint16_t>(value) : static_cast<uint32_t>(value);
        unsigned base = spec.conversion == L'o' ? 8 : spec.conversion == L'u' ? 10 : 16;
        std::wstring prefix;
        if (spec.alternate && value != 0 && base == 16)
            prefix = spec.conversion == L'X' ? L"0X" : L"0x";
        if (spec.alternate && base == 8) prefix = L"0";
        EmitNumber(spec, prefix, Digits(value, base, spec.conversion == L'X'));
    }

    void EmitPointer(const Spec& spec) {
        const FormatArg* arg = NextArg();
        if (!arg) return;
        std::wstring digits = Digits(arg->AsUnsigned(), 16, true);
        digits.insert(0,
                      sizeof(void*) * 2 -
                          (digits.size() < sizeof(void*) * 2 ? digits.size() : sizeof(void*) * 2),
                      L'0');
        Pad(spec, digits);
    }

    void EmitCharacter(const Spec& spec) {
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
        Pad(spec, text);
    }

    void EmitText(const Spec& spec) {
        const FormatArg* arg = NextArg();
        if (!arg) return;
        std::wstring text = arg->AsText();
        if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision)) {
            text.resize(spec.precision);
        }
        Pad(spec, text);
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

    void EmitNumber(const Spec& spec, const std::wstring& prefix, std::wstring digits) {
        if (spec.precision >= 0) {
            if (spec.precision == 0 && digits == L"0") digits.clear();
            if (digits.size() < static_cast<std::size_t>(spec.precision)) {
                digits.insert(0, spec.precision - digits.size(), L'0');
            }
        }
        bool zeroFill = spec.zeroPad && !spec.leftAlign && spec.precision < 0;
        std::size_t length = prefix.size() + digits.size();
        if (zeroFill && length < static_cast<std::size_t>(spec.width)) {
            digits.insert(0, spec.width - length, L'0');
        }
        Pad(spec, prefix + digits);
    }

    void Pad(const Spec& spec, const std::wstring& text) {
        std::size_t width = static_cast<std::size_t>(spec.width);
        if (text.size() >= width) {
            out_.append(text);
        } else if (spec.leftAlign) {
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
