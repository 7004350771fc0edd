#include "alertlog/XmlMemoryWriter.h"

#include <algorithm>
#include <string>

#include "common/Text.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsXmlCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Any character that ReplaceNonXmlCharacters would replace (a surrogate
// counts: on Windows a pair is let through there).
bool HasNonXmlCharacter(const wchar_t* text) {
    for (const wchar_t* p = text; *p; ++p) {
        char32_t c = static_cast<char32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) c &= 0xFFFF;
        if (!IsXmlCharacter(c) || IsHighSurrogate(c) || IsLowSurrogate(c)) return true;
    }
    return false;
}

}  // namespace

CXmlMemoryWriter::CXmlMemoryWriter() {
    if (!stream_.Create()) {
        lastResult_ = kx::platform::kXmlOutOfMemory;
        return;
    }
    created_ = Store(writer_.Create()) && Store(writer_.CreateOutput(stream_, L"UTF-16")) &&
               Store(writer_.SetOutput()) && Store(writer_.SetIndent(true)) &&
               Store(writer_.WriteStartDocumentOmitStandalone());
}

bool CXmlMemoryWriter::Store(int32_t result) {
    lastResult_ = result;
    return result >= 0;
}

bool CXmlMemoryWriter::StartElement(const wchar_t* name) {
    return created_ && Store(writer_.WriteStartElement(name));
}

bool CXmlMemoryWriter::ElementString(const wchar_t* name, const wchar_t* value) {
    if (!created_) return false;
    if (!value || !HasNonXmlCharacter(value)) return Store(writer_.WriteElementString(name, value));
    std::wstring text = ReplaceNonXmlCharacters(value);
    return Store(writer_.WriteElementString(name, text.c_str()));
}

bool CXmlMemoryWriter::EndElement() {
    return created_ && Store(writer_.WriteFullEndElement());
}

std::wstring CXmlMemoryWriter::GetText() {
    if (!created_) return {};
    Store(writer_.Flush());
    uint64_t size = 0;
    if (!stream_.GetSize(&size) || !stream_.Rewind()) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t read = 0;
    if (!stream_.Read(bytes.data(), bytes.size(), &read)) return {};
    std::wstring text = kx::Utf16LEToWide(bytes.data(), read);
    // Cut in place: a document is megabytes, a copy of it would double them.
    text.resize(std::min(text.find(L'\0'), text.size()));
    return text;
}

std::wstring CXmlMemoryWriter::ReplaceNonXmlCharacters(const wchar_t* text) {
    std::wstring result;
    if (!text) return result;
    for (const wchar_t* p = text; *p; ++p) {
        char32_t c = static_cast<char32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (IsHighSurrogate(c) && IsLowSurrogate(static_cast<char32_t>(p[1]) & 0xFFFF)) {
                result += p[0];
                result += p[1];
                ++p;
                continue;
            }
        }
        result += IsXmlCharacter(c) ? *p : static_cast<wchar_t>(kReplacementCharacter);
    }
    return result;
}
