#pragma once
// A small XML writer into memory for the alert document: UTF-16LE with the
// byte-order mark, the declaration without standalone, indented. Windows and
// Linux produce the same bytes.

#include <cstdint>
#include <string>

#include "platform/Xml.h"

class CXmlMemoryWriter {
public:
    // Creates the stream, the writer and its "UTF-16" output, turns
    // indentation on and writes the declaration; each step only after the
    // previous one succeeded.
    CXmlMemoryWriter();
    ~CXmlMemoryWriter() = default;
    CXmlMemoryWriter(const CXmlMemoryWriter&) = delete;
    CXmlMemoryWriter& operator=(const CXmlMemoryWriter&) = delete;

    // Each returns true when the platform call succeeded, false when it
    // failed or the writer was not created.
    bool StartElement(const wchar_t* name);
    // An element with text content; characters that XML does not allow are
    // written as U+FFFD so that the text is neither cut off nor malformed.
    bool ElementString(const wchar_t* name, const wchar_t* value);
    // Closes the innermost open element with a full end tag.
    bool EndElement();

    // The document so far, the byte-order mark as its first character; empty
    // when the stream's size cannot be read.
    std::wstring GetText();

    bool IsCreated() const { return created_; }
    int32_t GetLastResult() const { return lastResult_; }

    // text with every character that XML 1.0 does not allow replaced by U+FFFD.
    static std::wstring ReplaceNonXmlCharacters(const wchar_t* text);

private:
    bool Store(int32_t result);

    // Released in reverse order: output and writer before the stream.
    kx::platform::CXmlMemoryStream stream_;
    kx::platform::CXmlTextWriter writer_;
    int32_t lastResult_ = 0;
    bool created_ = false;
};
