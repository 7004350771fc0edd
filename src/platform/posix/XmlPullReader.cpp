// The pull reader on libxml2's SAX2 push parser. Its callbacks fire as soon as
// each construct is complete, so every node before a fault is delivered, as
// XmlLite does (libxml2's own xmlTextReader drops the nodes just before an
// error). The callbacks fill a queue that Read empties; the input is fed in
// pieces only while the queue is empty.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Text.h"
#include "platform/Xml.h"
#include "platform/posix/XmlMemoryStreamImpl.h"

namespace kx::platform {
namespace {

constexpr std::size_t kFeedBytes = 16384;
// XmlLite's default XmlReaderProperty_MaxElementDepth. libxml2's push parser
// sets no limit of its own when no tree is built.
constexpr int kMaxElementDepth = 256;

struct XmlAttribute {
    std::wstring prefix;
    std::wstring localName;
    std::wstring value;
    bool isDefault = false;
};

struct XmlNode {
    XmlNodeType type = kXmlNodeNone;
    std::wstring prefix;
    std::wstring localName;
    std::wstring value;
    bool isEmpty = false;
    std::vector<XmlAttribute> attributes;
};

std::wstring FromXmlChars(const xmlChar* text) {
    return text ? Utf8ToWide(reinterpret_cast<const char*>(text)) : std::wstring();
}

std::wstring FromXmlChars(const xmlChar* begin, const xmlChar* end) {
    if (!begin || end < begin) return {};
    return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(begin),
                                       static_cast<std::size_t>(end - begin)));
}

// Without entity substitution libxml2 keeps an ampersand of an attribute
// value as "&#38;"; nothing else in a parsed value can look like that.
std::wstring FromAttributeValue(const xmlChar* begin, const xmlChar* end) {
    std::wstring value = FromXmlChars(begin, end);
    for (std::size_t at = value.find(L"&#38;"); at != std::wstring::npos;
         at = value.find(L"&#38;", at + 1))
        value.replace(at, 5, L"&");
    return value;
}

bool IsXmlBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// The pseudo-attributes of an XML declaration that the parser has accepted:
// name = "value" or 'value' pairs up to "?>".
std::vector<XmlAttribute> ParseDeclaration(std::wstring_view text) {
    std::vector<XmlAttribute> attributes;
    std::size_t i = 5;  // after "<?xml"
    std::size_t end = text.find(L"?>");
    if (end == std::wstring_view::npos) return attributes;
    while (i < end) {
        while (i < end && IsXmlBlank(text[i])) ++i;
        std::size_t nameStart = i;
        while (i < end && text[i] != L'=' && !IsXmlBlank(text[i])) ++i;
        std::wstring name(text.substr(nameStart, i - nameStart));
        while (i < end && (IsXmlBlank(text[i]) || text[i] == L'=')) ++i;
        if (name.empty() || i >= end) break;
        wchar_t quote = text[i++];
        std::size_t close = text.find(quote, i);
        if (close == std::wstring_view::npos || close > end) break;
        attributes.push_back({L"", name, std::wstring(text.substr(i, close - i))});
        i = close + 1;
    }
    return attributes;
}

void InitializeLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

}  // namespace

struct CXmlPullReader::Impl {
    xmlParserCtxtPtr context = nullptr;
    bool prohibitDtd = false;
    std::string input;
    std::size_t fed = 0;
    bool finished = false;
    int32_t error = kXmlOk;

    std::deque<XmlNode> queue;
    std::wstring pendingText;
    bool hasPendingText = false;
    std::wstring pendingCData;
    bool hasPendingCData = false;
    bool skipNextEnd = false;  // the end that libxml2 reports for <name/>
    int depth = 0;

    XmlNode current;
    int attributeIndex = -1;  // -1: on the node itself

    ~Impl() {
        if (context) xmlFreeParserCtxt(context);
    }

    void Fail(int32_t code) {
        if (error == kXmlOk) error = code;
        if (context) xmlStopParser(context);
    }

    void FlushText() {
        if (hasPendingText) {
            bool blank = std::all_of(pendingText.begin(), pendingText.end(), IsXmlBlank);
            XmlNode node;
            node.type = blank ? kXmlNodeWhitespace : kXmlNodeText;
            node.value = std::move(pendingText);
            queue.push_back(std::move(node));
            pendingText.clear();
            hasPendingText = false;
        }
        if (hasPendingCData) {
            XmlNode node;
            node.type = kXmlNodeCData;
            node.value = std::move(pendingCData);
            queue.push_back(std::move(node));
            pendingCData.clear();
            hasPendingCData = false;
        }
    }

    void Push(XmlNode node) {
        FlushText();
        queue.push_back(std::move(node));
    }

    void FeedMore() {
        if (error == kXmlOk && fed < input.size()) {
            std::size_t count = std::min(kFeedBytes, input.size() - fed);
            xmlParseChunk(context, input.data() + fed, static_cast<int>(count), 0);
            fed += count;
        } else {
            if (error == kXmlOk) xmlParseChunk(context, nullptr, 0, 1);
            finished = true;
        }
        if (error == kXmlOk && !context->wellFormed) error = kXmlSyntaxError;
        if (error != kXmlOk) finished = true;
        if (finished) FlushText();
    }

    const XmlAttribute* CurrentAttribute() const {
        if (attributeIndex < 0 || attributeIndex >= static_cast<int>(current.attributes.size()))
            return nullptr;
        return &current.attributes[static_cast<std::size_t>(attributeIndex)];
    }
};

namespace {

CXmlPullReader::Impl& ImplOf(void* userData) {
    return *static_cast<CXmlPullReader::Impl*>(userData);
}

void OnStartDocument(void* userData) {
    auto& impl = ImplOf(userData);
    std::size_t head = std::min<std::size_t>(impl.input.size(), 1024);
    std::wstring start = Utf16LEToWide(impl.input.data(), head);
    if (start.size() < 6 || start.compare(0, 5, L"<?xml") != 0 || !IsXmlBlank(start[5])) return;
    XmlNode node;
    node.type = kXmlNodeXmlDeclaration;
    node.localName = L"xml";
    node.attributes = ParseDeclaration(start);
    impl.Push(std::move(node));
}

void OnStartElement(void* userData, const xmlChar* localName, const xmlChar* prefix, const xmlChar*,
                    int namespaceCount, const xmlChar** namespaces, int attributeCount,
                    int defaultedCount, const xmlChar** attributes) {
    auto& impl = ImplOf(userData);
    if (++impl.depth > kMaxElementDepth) {
        impl.Fail(kXmlSyntaxError);
        return;
    }
    XmlNode node;
    node.type = kXmlNodeElement;
    node.prefix = FromXmlChars(prefix);
    node.localName = FromXmlChars(localName);
    // libxml2 has consumed the attributes and stands on "/>" or ">".
    const xmlChar* cur = impl.context->input ? impl.context->input->cur : nullptr;
    node.isEmpty = cur && cur[0] == '/' && cur[1] == '>';
    // Namespace declarations come first: libxml2 reports them apart.
    for (int i = 0; i < namespaceCount; ++i) {
        const xmlChar* declared = namespaces[2 * i];
        XmlAttribute attribute;
        attribute.prefix = declared ? L"xmlns" : L"";
        attribute.localName = declared ? FromXmlChars(declared) : L"xmlns";
        attribute.value = FromXmlChars(namespaces[2 * i + 1]);
        node.attributes.push_back(std::move(attribute));
    }
    for (int i = 0; i < attributeCount; ++i) {
        const xmlChar** item = attributes + 5 * i;
        XmlAttribute attribute;
        attribute.localName = FromXmlChars(item[0]);
        attribute.prefix = FromXmlChars(item[1]);
        attribute.value = FromAttributeValue(item[3], item[4]);
        attribute.isDefault = i >= attributeCount - defaultedCount;
        node.attributes.push_back(std::move(attribute));
    }
    impl.skipNextEnd = node.isEmpty;
    impl.Push(std::move(node));
}

void OnEndElement(void* userData, const xmlChar* localName, const xmlChar* prefix, const xmlChar*) {
    auto& impl = ImplOf(userData);
    --impl.depth;
    if (impl.skipNextEnd) {
        impl.skipNextEnd = false;
        return;
    }
    XmlNode node;
    node.type = kXmlNodeEndElement;
    node.prefix = FromXmlChars(prefix);
    node.localName = FromXmlChars(localName);
    impl.Push(std::move(node));
}

void OnCharacters(void* userData, const xmlChar* text, int length) {
    auto& impl = ImplOf(userData);
    if (impl.hasPendingCData) impl.FlushText();
    impl.pendingText += FromXmlChars(text, text + length);
    impl.hasPendingText = true;
}

// libxml2 hands a long CDATA section over in pieces; XmlLite gives one node.
void OnCData(void* userData, const xmlChar* text, int length) {
    auto& impl = ImplOf(userData);
    if (impl.hasPendingText) impl.FlushText();
    impl.pendingCData += FromXmlChars(text, text + length);
    impl.hasPendingCData = true;
}

void OnComment(void* userData, const xmlChar* text) {
    XmlNode node;
    node.type = kXmlNodeComment;
    node.value = FromXmlChars(text);
    ImplOf(userData).Push(std::move(node));
}

void OnProcessingInstruction(void* userData, const xmlChar* target, const xmlChar* data) {
    XmlNode node;
    node.type = kXmlNodeProcessingInstruction;
    node.localName = FromXmlChars(target);
    node.value = FromXmlChars(data);
    ImplOf(userData).Push(std::move(node));
}

// Called at "<!DOCTYPE name ...", before any declaration in it is parsed.
void OnDocumentType(void* userData, const xmlChar* name, const xmlChar*, const xmlChar*) {
    auto& impl = ImplOf(userData);
    if (impl.prohibitDtd) {
        impl.Fail(kXmlDtdProhibited);
        return;
    }
    XmlNode node;
    node.type = kXmlNodeDocumentType;
    node.localName = FromXmlChars(name);
    impl.Push(std::move(node));
}

void OnParserError(void* userData, xmlErrorPtr error) {
    if (error && error->level >= XML_ERR_ERROR) ImplOf(userData).Fail(kXmlSyntaxError);
}

xmlSAXHandler MakeHandler() {
    xmlSAXHandler handler{};
    handler.initialized = XML_SAX2_MAGIC;
    handler.startDocument = OnStartDocument;
    handler.startElementNs = OnStartElement;
    handler.endElementNs = OnEndElement;
    handler.characters = OnCharacters;
    handler.ignorableWhitespace = OnCharacters;
    handler.cdataBlock = OnCData;
    handler.comment = OnComment;
    handler.processingInstruction = OnProcessingInstruction;
    handler.internalSubset = OnDocumentType;
    handler.serror = OnParserError;
    return handler;
}

int32_t CopyOut(const std::wstring& text, const wchar_t** out) {
    if (!out) return kXmlInvalidArgument;
    *out = text.c_str();
    return kXmlOk;
}

}  // namespace

CXmlPullReader::CXmlPullReader() = default;
CXmlPullReader::~CXmlPullReader() = default;

int32_t CXmlPullReader::Create() {
    InitializeLibxml();
    impl_ = std::make_unique<Impl>();
    return kXmlOk;
}

int32_t CXmlPullReader::ProhibitDtd() {
    if (!impl_) return kXmlUnexpected;
    impl_->prohibitDtd = true;
    return kXmlOk;
}

int32_t CXmlPullReader::SetInput(CXmlMemoryStream& stream) {
    if (!impl_ || !stream.GetImpl() || impl_->context) return kXmlUnexpected;
    const auto& source = *stream.GetImpl();
    impl_->input = source.bytes.substr(std::min(source.position, source.bytes.size()));
    // The byte-order mark selects the encoding, as XmlLite reads it.
    if (impl_->input.size() >= 2 && impl_->input.compare(0, 2, "\xFF\xFE") == 0)
        impl_->input.erase(0, 2);
    xmlSAXHandler handler = MakeHandler();
    impl_->context = xmlCreatePushParserCtxt(&handler, impl_.get(), nullptr, 0, nullptr);
    if (!impl_->context) return kXmlOutOfMemory;
    // No network, no entity substitution, no DTD loading; the stream is
    // UTF-16LE whatever the declaration claims.
    xmlCtxtUseOptions(impl_->context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                          XML_PARSE_IGNORE_ENC);
    xmlSwitchEncoding(impl_->context, XML_CHAR_ENCODING_UTF16LE);
    return kXmlOk;
}

int32_t CXmlPullReader::Read(XmlNodeType* type) {
    if (!impl_ || !impl_->context || !type) return kXmlUnexpected;
    while (impl_->queue.empty() && !impl_->finished) impl_->FeedMore();
    impl_->attributeIndex = -1;
    if (impl_->queue.empty()) {
        impl_->current = XmlNode();
        *type = kXmlNodeNone;
        return impl_->error != kXmlOk ? impl_->error : kXmlFalse;
    }
    impl_->current = std::move(impl_->queue.front());
    impl_->queue.pop_front();
    *type = impl_->current.type;
    return kXmlOk;
}

int32_t CXmlPullReader::GetPrefix(const wchar_t** text) {
    if (!impl_) return kXmlUnexpected;
    const XmlAttribute* attribute = impl_->CurrentAttribute();
    return CopyOut(attribute ? attribute->prefix : impl_->current.prefix, text);
}

int32_t CXmlPullReader::GetLocalName(const wchar_t** text) {
    if (!impl_) return kXmlUnexpected;
    const XmlAttribute* attribute = impl_->CurrentAttribute();
    return CopyOut(attribute ? attribute->localName : impl_->current.localName, text);
}

int32_t CXmlPullReader::GetValue(const wchar_t** text) {
    if (!impl_) return kXmlUnexpected;
    const XmlAttribute* attribute = impl_->CurrentAttribute();
    return CopyOut(attribute ? attribute->value : impl_->current.value, text);
}

bool CXmlPullReader::IsEmptyElement() {
    return impl_ && impl_->attributeIndex < 0 && impl_->current.isEmpty;
}

int32_t CXmlPullReader::MoveToFirstAttribute() {
    if (!impl_) return kXmlUnexpected;
    if (impl_->current.attributes.empty()) return kXmlFalse;
    impl_->attributeIndex = 0;
    return kXmlOk;
}

int32_t CXmlPullReader::MoveToNextAttribute() {
    if (!impl_) return kXmlUnexpected;
    int next = impl_->attributeIndex + 1;
    if (next >= static_cast<int>(impl_->current.attributes.size())) return kXmlFalse;
    impl_->attributeIndex = next;
    return kXmlOk;
}

int32_t CXmlPullReader::MoveToElement() {
    if (!impl_) return kXmlUnexpected;
    if (impl_->attributeIndex < 0) return kXmlFalse;
    impl_->attributeIndex = -1;
    return kXmlOk;
}

bool CXmlPullReader::IsDefault() {
    const XmlAttribute* attribute = impl_ ? impl_->CurrentAttribute() : nullptr;
    return attribute && attribute->isDefault;
}

}  // namespace kx::platform
