// The writer on Linux writes what XmlLite writes, byte for byte: the byte-order
// mark, the declaration, CR LF and two blanks per level before every start tag
// and before the end tag of an element that holds elements, text with only
// &, < and > escaped, and no line end after the root. libxml2's writer is not
// used: its line ends are LF only and it escapes quotes and carriage returns,
// and neither can be changed.
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/Xml.h"
#include "platform/posix/XmlMemoryStreamImpl.h"

namespace kx::platform {
namespace {

bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

constexpr std::size_t kPendingLimit = 32 * 1024;

struct OpenElement {
    std::wstring name;
    bool hasElements = false;
};

}  // namespace

struct CXmlTextWriter::Impl {
    CXmlMemoryStream::Impl* stream = nullptr;
    bool outputCreated = false;
    bool outputSet = false;
    bool indent = false;
    bool wroteAnything = false;
    bool startTagOpen = false;  // "<name" written, ">" not yet
    std::wstring encodingName;
    std::wstring pending;  // text not yet flushed into the stream
    bool wroteByteOrderMark = false;
    std::vector<OpenElement> open;

    void CloseStartTag() {
        if (startTagOpen) pending += L'>';
        startTagOpen = false;
    }

    void NewLine(std::size_t depth) {
        if (!indent || !wroteAnything) return;
        pending += L"\r\n";
        pending.append(2 * depth, L' ');
    }

    // Escapes and appends text; stops at a character XML does not allow.
    int32_t AppendText(const wchar_t* text) {
        // Large documents pass into the stream as they grow, not all at the end.
        if (pending.size() > kPendingLimit) Flush();
        const wchar_t* run = text;  // characters that need no escaping, copied at once
        for (const wchar_t* p = text;; ++p) {
            char32_t c = static_cast<char32_t>(*p);
            if (c != 0 && c != U'<' && c != U'>' && c != U'&' && IsXmlChar(c) && !IsSurrogate(c))
                continue;
            pending.append(run, static_cast<std::size_t>(p - run));
            run = p + 1;
            if (c == 0) return kXmlOk;
            if (IsSurrogate(c)) return kXmlInvalidSurrogate;
            if (!IsXmlChar(c)) return kXmlInvalidCharacter;
            pending += c == U'<' ? L"&lt;" : c == U'>' ? L"&gt;" : L"&amp;";
        }
    }

    int32_t Flush() {
        if (!stream) return kXmlUnexpected;
        if (!wroteByteOrderMark && !pending.empty()) {
            stream->Write("\xFF\xFE", 2);
            wroteByteOrderMark = true;
        }
        std::string bytes = WideToUtf16LE(pending);
        stream->Write(bytes.data(), bytes.size());
        pending.clear();
        return kXmlOk;
    }
};

CXmlTextWriter::CXmlTextWriter() = default;
CXmlTextWriter::~CXmlTextWriter() = default;

int32_t CXmlTextWriter::Create() {
    impl_ = std::make_unique<Impl>();
    return kXmlOk;
}

int32_t CXmlTextWriter::CreateOutput(CXmlMemoryStream& stream, const wchar_t* encodingName) {
    if (!impl_ || !stream.GetImpl()) return kXmlUnexpected;
    if (!encodingName || !EqualsNoCase(encodingName, L"UTF-16")) return kXmlInvalidArgument;
    impl_->stream = stream.GetImpl();
    impl_->encodingName = encodingName;
    impl_->outputCreated = true;
    return kXmlOk;
}

int32_t CXmlTextWriter::SetOutput() {
    if (!impl_ || !impl_->outputCreated) return kXmlUnexpected;
    impl_->outputSet = true;
    return kXmlOk;
}

int32_t CXmlTextWriter::SetIndent(bool indent) {
    if (!impl_) return kXmlUnexpected;
    impl_->indent = indent;
    return kXmlOk;
}

int32_t CXmlTextWriter::WriteStartDocumentOmitStandalone() {
    if (!impl_ || !impl_->outputSet) return kXmlUnexpected;
    if (impl_->wroteAnything) return kXmlUnexpected;
    impl_->pending += L"<?xml version=\"1.0\" encoding=\"" + impl_->encodingName + L"\"?>";
    impl_->wroteAnything = true;
    return kXmlOk;
}

int32_t CXmlTextWriter::WriteStartElement(const wchar_t* name) {
    if (!impl_ || !impl_->outputSet) return kXmlUnexpected;
    if (!name || !*name) return kXmlInvalidArgument;
    impl_->CloseStartTag();
    if (!impl_->open.empty()) impl_->open.back().hasElements = true;
    impl_->NewLine(impl_->open.size());
    impl_->pending += L'<';
    impl_->pending += name;
    impl_->startTagOpen = true;
    impl_->wroteAnything = true;
    impl_->open.push_back({name});
    return kXmlOk;
}

int32_t CXmlTextWriter::WriteString(const wchar_t* text) {
    if (!impl_ || !impl_->outputSet) return kXmlUnexpected;
    impl_->CloseStartTag();
    return text ? impl_->AppendText(text) : kXmlOk;
}

int32_t CXmlTextWriter::WriteElementString(const wchar_t* name, const wchar_t* value) {
    int32_t result = WriteStartElement(name);
    if (result != kXmlOk) return result;
    int32_t written = WriteString(value ? value : L"");
    result = WriteFullEndElement();
    return written != kXmlOk ? written : result;
}

int32_t CXmlTextWriter::WriteFullEndElement() {
    if (!impl_ || !impl_->outputSet) return kXmlUnexpected;
    if (impl_->open.empty()) return kXmlUnexpected;
    OpenElement element = std::move(impl_->open.back());
    impl_->open.pop_back();
    impl_->CloseStartTag();
    if (element.hasElements) impl_->NewLine(impl_->open.size());
    impl_->pending += L"</" + element.name + L">";
    return kXmlOk;
}

int32_t CXmlTextWriter::Flush() {
    if (!impl_ || !impl_->outputSet) return kXmlUnexpected;
    return impl_->Flush();
}

}  // namespace kx::platform
