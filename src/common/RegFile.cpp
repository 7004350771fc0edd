#include "common/RegFile.h"

#include <cstddef>

#include "common/Format.h"
#include "common/Text.h"

namespace kx {
namespace {

constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
constexpr std::size_t kWrapColumn = 77;  // the registry editor's line width, less ",\"
constexpr const wchar_t* kNameNotWritable =
    L"a key or value name cannot hold control characters or unpaired surrogates";

// ---- reading ----

class CRegFileReader {
public:
    CRegFileReader(std::vector<std::wstring> lines, std::vector<RegFileKey>* keys)
        : lines_(std::move(lines)), keys_(keys) {}

    bool Read(RegFileError* error);

private:
    bool ReadLine(std::wstring_view line);
    bool ReadSection(std::wstring_view line);
    bool ReadValue(std::wstring_view line);
    bool ReadData(std::wstring_view text, RegFileValue* value);
    bool ReadHex(std::wstring_view text, std::string* bytes);
    std::wstring JoinContinuation(std::wstring_view first);
    bool Fail(const std::wstring& message) {
        message_ = message;
        return false;
    }

    std::vector<std::wstring> lines_;
    std::vector<RegFileKey>* keys_;
    std::size_t index_ = 0;  // the line being read
    bool inRemovedKey_ = false;
    std::wstring message_;
};

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

uint32_t HexValue(wchar_t c) {
    if (c <= L'9') return static_cast<uint32_t>(c - L'0');
    return static_cast<uint32_t>((c | 0x20) - L'a' + 10);
}

// 1 to maxDigits hex digits, nothing else.
bool ParseHexNumber(std::wstring_view text, std::size_t maxDigits, uint32_t* number) {
    if (text.empty() || text.size() > maxDigits) return false;
    uint32_t result = 0;
    for (wchar_t c : text) {
        if (!IsHexDigit(c)) return false;
        result = result * 16 + HexValue(c);
    }
    *number = result;
    return true;
}

std::wstring_view TrimRight(std::wstring_view text) {
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::wstring_view TrimLeft(std::wstring_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    return text;
}

// A quoted string at the start of text ("..." with \\ and \" escapes); the
// rest of text after the closing quote goes to *rest.
bool ParseQuoted(std::wstring_view text, std::wstring* result, std::wstring_view* rest,
                 std::wstring* message) {
    result->clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'"') {
            *rest = text.substr(i + 1);
            return true;
        }
        if (c == L'\\') {
            if (i + 1 >= text.size() || (text[i + 1] != L'\\' && text[i + 1] != L'"')) {
                *message =
                    L"a backslash in a quoted text must be written \\\\ (or \\\" for a quote)";
                return false;
            }
            c = text[++i];
        }
        result->push_back(c);
    }
    *message = L"a quoted text has no closing quote";
    return false;
}

bool CRegFileReader::Read(RegFileError* error) {
    bool sawHeader = false;
    for (index_ = 0; index_ < lines_.size(); ++index_) {
        std::wstring_view line = TrimRight(lines_[index_]);
        if (!sawHeader) {
            if (TrimLeft(line).empty()) continue;
            if (line != Utf8ToWide(kRegFileHeader)) {
                error->line = static_cast<int>(index_ + 1);
                error->message =
                    Format(L"the file does not begin with \"%s\"", kRegFileHeader.data());
                return false;
            }
            sawHeader = true;
            continue;
        }
        if (!ReadLine(line)) {
            error->line = static_cast<int>(index_ + 1);
            error->message = message_;
            return false;
        }
    }
    if (!sawHeader) {
        error->line = 0;
        error->message =
            Format(L"the file is empty; it must begin with \"%s\"", kRegFileHeader.data());
        return false;
    }
    return true;
}

bool CRegFileReader::ReadLine(std::wstring_view line) {
    std::wstring_view text = TrimLeft(line);
    if (text.empty() || text.front() == L';') return true;
    if (text.front() == L'[') return ReadSection(text);
    if (text.front() == L'"' || text.front() == L'@') return ReadValue(text);
    return Fail(L"a line must be a [key], a \"value\"=data, @=data or a ; comment");
}

bool CRegFileReader::ReadSection(std::wstring_view text) {
    if (text.back() != L']') return Fail(L"a key line must end with ]");
    RegFileKey key;
    text = text.substr(1, text.size() - 2);
    if (!text.empty() && text.front() == L'-') {
        key.remove = true;
        text.remove_prefix(1);
    }
    if (text.empty()) return Fail(L"a key line names no key");
    // The file is written back in UTF-8: a name it cannot hold would come back
    // as another key.
    if (!IsRegFileName(text)) return Fail(kNameNotWritable);
    key.path.assign(text);
    inRemovedKey_ = key.remove;
    keys_->push_back(std::move(key));
    return true;
}

bool CRegFileReader::ReadValue(std::wstring_view text) {
    if (keys_->empty()) return Fail(L"a value comes before the first [key]");
    if (inRemovedKey_) return Fail(L"a key that is deleted ([-key]) cannot have values");
    RegFileValue value;
    std::wstring_view rest;
    if (text.front() == L'@') {
        rest = text.substr(1);
    } else if (!ParseQuoted(text, &value.name, &rest, &message_)) {
        return false;
    }
    if (!IsRegFileName(value.name)) return Fail(kNameNotWritable);
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != L'=') return Fail(L"a value name must be followed by =");
    if (!ReadData(TrimLeft(rest.substr(1)), &value)) return false;
    keys_->back().values.push_back(std::move(value));
    return true;
}

std::wstring CRegFileReader::JoinContinuation(std::wstring_view first) {
    std::wstring joined(TrimRight(first));
    while (!joined.empty() && joined.back() == L'\\' && index_ + 1 < lines_.size()) {
        joined.pop_back();
        joined += TrimLeft(TrimRight(lines_[++index_]));
    }
    return joined;
}

bool CRegFileReader::ReadData(std::wstring_view text, RegFileValue* value) {
    if (text == L"-") {
        value->remove = true;
        return true;
    }
    if (!text.empty() && text.front() == L'"') {
        std::wstring content;
        std::wstring_view rest;
        if (!ParseQuoted(text, &content, &rest, &message_)) return false;
        if (!TrimLeft(rest).empty()) return Fail(L"unexpected text after a quoted value");
        value->type = kTypeString;
        value->data = RegStringData(content);
        return true;
    }
    if (text.starts_with(L"dword:")) {
        uint32_t number = 0;
        if (!ParseHexNumber(text.substr(6), 8, &number)) {
            return Fail(L"dword: must be followed by 1 to 8 hex digits");
        }
        value->type = kTypeDword;
        value->data = RegDwordData(number);
        return true;
    }
    if (text.starts_with(L"hex:")) {
        value->type = kTypeBinary;
        return ReadHex(JoinContinuation(text.substr(4)), &value->data);
    }
    if (text.starts_with(L"hex(")) {
        std::size_t close = text.find(L"):");
        if (close == std::wstring_view::npos ||
            !ParseHexNumber(text.substr(4, close - 4), 8, &value->type)) {
            return Fail(L"hex( must be followed by a hex type number and ):");
        }
        return ReadHex(JoinContinuation(text.substr(close + 2)), &value->data);
    }
    return Fail(L"value data must be \"text\", dword:, hex:, hex(type): or -");
}

bool CRegFileReader::ReadHex(std::wstring_view text, std::string* bytes) {
    bytes->clear();
    text = TrimLeft(text);
    while (!text.empty()) {
        std::size_t comma = text.find(L',');
        std::wstring_view item = TrimRight(TrimLeft(text.substr(0, comma)));
        uint32_t byte = 0;
        bool last = comma == std::wstring_view::npos;
        // A trailing comma is tolerated; an empty item elsewhere is not.
        if (!(item.empty() && !last && TrimLeft(text.substr(comma + 1)).empty())) {
            if (!ParseHexNumber(item, 2, &byte)) {
                return Fail(L"hex data must be bytes of two hex digits separated by commas");
            }
            bytes->push_back(static_cast<char>(byte));
        }
        if (last) break;
        text = TrimLeft(text.substr(comma + 1));
    }
    return true;
}

bool DecodeText(std::string_view bytes, std::wstring* text, RegFileError* error) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        *text = Utf16LEToWide(bytes.data() + 2, bytes.size() - 2);
        return true;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    *text = Utf8ToWide(bytes);
    if (WideToUtf8(*text) != bytes) {
        // Reading it anyway would replace the bad bytes and lose them on the next write.
        error->line = 0;
        error->message = L"the file is neither UTF-16LE with a byte-order mark nor valid UTF-8";
        return false;
    }
    return true;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// ---- writing ----

void AppendQuoted(std::wstring_view text, std::wstring* out) {
    out->push_back(L'"');
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') out->push_back(L'\\');
        out->push_back(c);
    }
    out->push_back(L'"');
}

// The string a REG_SZ holds when its bytes are exactly a printable text and
// one terminating NUL; otherwise it has to be written as hex to be kept exactly.
bool AsPrintableString(const std::string& data, std::wstring* text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    if (data[data.size() - 1] != 0 || data[data.size() - 2] != 0) return false;
    *text = Utf16LEToWide(data.data(), data.size() - 2);
    return IsRegFileName(*text) && RegStringData(*text) == data;
}

void AppendHex(const std::string& data, std::size_t column, std::wstring* out) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (column >= kWrapColumn) {
            *out += L"\\\n  ";
            column = 2;
        }
        static constexpr wchar_t kDigits[] = L"0123456789abcdef";
        unsigned char byte = static_cast<unsigned char>(data[i]);
        out->push_back(kDigits[byte >> 4]);
        out->push_back(kDigits[byte & 0x0F]);
        column += 2;
        if (i + 1 < data.size()) {
            out->push_back(L',');
            ++column;
        }
    }
}

void AppendValue(const RegFileValue& value, std::wstring* out) {
    std::size_t lineStart = out->size();
    if (value.name.empty()) {
        out->push_back(L'@');
    } else {
        AppendQuoted(value.name, out);
    }
    out->push_back(L'=');
    std::wstring text;
    if (value.remove) {
        out->push_back(L'-');
    } else if (value.type == kTypeString && AsPrintableString(value.data, &text)) {
        AppendQuoted(text, out);
    } else if (value.type == kTypeDword && value.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[i]);
        *out += Format(L"dword:%08x", number);
    } else {
        *out += value.type == kTypeBinary ? std::wstring(L"hex:") : Format(L"hex(%x):", value.type);
        AppendHex(value.data, out->size() - lineStart, out);
    }
    out->push_back(L'\n');
}

}  // namespace

bool ParseRegFile(std::string_view bytes, std::vector<RegFileKey>* keys, RegFileError* error) {
    keys->clear();
    std::wstring text;
    if (!DecodeText(bytes, &text, error)) return false;
    CRegFileReader reader(SplitLines(text), keys);
    return reader.Read(error);
}

std::string FormatRegFile(const std::vector<RegFileKey>& keys) {
    std::wstring out = Utf8ToWide(kRegFileHeader);
    out += L"\n\n";
    for (const RegFileKey& key : keys) {
        out += key.remove ? L"[-" : L"[";
        out += key.path;
        out += L"]\n";
        for (const RegFileValue& value : key.values) AppendValue(value, &out);
        out.push_back(L'\n');
    }
    return WideToUtf8(out);
}

std::string RegStringData(std::wstring_view text) {
    std::string data = WideToUtf16LE(text);
    data.append(2, '\0');
    return data;
}

std::string RegMultiStringData(const std::vector<std::wstring>& strings) {
    std::string data;
    for (const std::wstring& text : strings) data += RegStringData(text);
    data.append(2, '\0');
    return data;
}

std::string RegDwordData(uint32_t value) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return data;
}

bool IsRegFileName(std::wstring_view name) {
    for (wchar_t c : name) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    std::wstring text(name);
    return Utf8ToWide(WideToUtf8(text)) == text;
}

}  // namespace kx
