#include "alertlog/XMLReader.h"

#include <cstdio>

#include "common/Format.h"
#include "common/Text.h"
#include "platform/Xml.h"

using kx::platform::CXmlMemoryStream;
using kx::platform::CXmlPullReader;

namespace {

bool Failed(int32_t result) {
    return result < 0;
}

// Attribute failures are detailed on standard output only; the handler gets
// a summary through OnError.
void PrintDetail(const wchar_t* format, int32_t code) {
    std::fputs(kx::WideToUtf8(kx::Format(format, code)).c_str(), stdout);
    std::fputs("\n", stdout);
}

}  // namespace

int32_t CXMLReader::ParseXml(const wchar_t* text) {
    if (!text) return kNullDocument;
    // The stream outlives the reader that reads it.
    CXmlMemoryStream stream;
    if (!stream.Create()) {
        OnError(L"Error creating memory stream....", -1);
        return kAborted;
    }
    std::string bytes = kx::WideToUtf16LE(text);
    if (!stream.Write(bytes.data(), bytes.size()) || !stream.Rewind()) return kAborted;

    CXmlPullReader reader;
    int32_t result = reader.Create();
    if (Failed(result)) {
        OnError(L"Error creating xml reader.", result);
        return result;
    }
    result = reader.ProhibitDtd();
    if (Failed(result)) {
        OnError(L"Error setting XmlReaderProperty_DtdProcessing.", result);
        return result;
    }
    result = reader.SetInput(stream);
    if (Failed(result)) {
        OnError(L"Error setting input for reader", result);
        return result;
    }
    // The end of the input and malformed input alike end the loop.
    kx::platform::XmlNodeType type = kx::platform::kXmlNodeNone;
    while (reader.Read(&type) == kx::platform::kXmlOk) {
        result = DispatchNode(reader, type);
        if (result != kParsed) return result;
    }
    return kParsed;
}

int32_t CXMLReader::DispatchNode(CXmlPullReader& reader, int32_t nodeType) {
    switch (nodeType) {
        case kx::platform::kXmlNodeElement:
            return DispatchElement(reader);
        case kx::platform::kXmlNodeEndElement:
            return DispatchEndElement(reader);
        case kx::platform::kXmlNodeText:
        case kx::platform::kXmlNodeWhitespace:
        case kx::platform::kXmlNodeCData:
        case kx::platform::kXmlNodeComment:
            return DispatchValueNode(reader, nodeType);
        case kx::platform::kXmlNodeProcessingInstruction:
            return DispatchProcessingInstruction(reader);
        case kx::platform::kXmlNodeXmlDeclaration:
            return DispatchDeclaration(reader);
        default:
            return kParsed;
    }
}

int32_t CXMLReader::ReadNames(CXmlPullReader& reader, std::wstring& prefix,
                              std::wstring& localName) {
    const wchar_t* text = nullptr;
    int32_t result = reader.GetPrefix(&text);
    if (Failed(result)) {
        OnError(L"Error getting prefix, error is %08.8lx", result);
        return result;
    }
    prefix = text;
    result = reader.GetLocalName(&text);
    if (Failed(result)) {
        OnError(L"Error getting local name, error is %08.8lx", result);
        return result;
    }
    localName = text;
    return kParsed;
}

int32_t CXMLReader::DispatchElement(CXmlPullReader& reader) {
    // The names are copied: the reader's text changes as it visits attributes.
    std::wstring prefix;
    std::wstring localName;
    int32_t result = ReadNames(reader, prefix, localName);
    if (result != kParsed) return result;
    // The element's own empty state, asked before the reader moves onto its
    // attributes: there both platforms answer for the element itself.
    int32_t isEmpty = reader.IsEmptyElement() ? 1 : 0;
    CXMLAttributeList attributes;
    if (ReadAttributes(reader, attributes) < 0) {
        OnError(L"Error getting attributes, error is %08.8lx", -1);
        return kAborted;
    }
    OnStartElement(prefix.c_str(), localName.c_str(), attributes, isEmpty);
    result = reader.MoveToElement();
    if (Failed(result)) {
        OnError(
            L"Error moving to the element that owns the current attribute node, error is "
            L"%08.8lx",
            result);
        return result;
    }
    return kParsed;
}

int32_t CXMLReader::DispatchEndElement(CXmlPullReader& reader) {
    std::wstring prefix;
    std::wstring localName;
    int32_t result = ReadNames(reader, prefix, localName);
    if (result != kParsed) return result;
    OnEndElement(prefix.c_str(), localName.c_str());
    return kParsed;
}

int32_t CXMLReader::DispatchValueNode(CXmlPullReader& reader, int32_t nodeType) {
    const wchar_t* value = nullptr;
    int32_t result = reader.GetValue(&value);
    if (Failed(result)) {
        OnError(L"Error getting value, error is %08.8lx", result);
        return result;
    }
    if (nodeType == kx::platform::kXmlNodeCData) {
        OnCData(value);
    } else if (nodeType == kx::platform::kXmlNodeComment) {
        OnComment(value);
    } else {
        OnText(value);
    }
    return kParsed;
}

int32_t CXMLReader::DispatchProcessingInstruction(CXmlPullReader& reader) {
    const wchar_t* text = nullptr;
    int32_t result = reader.GetLocalName(&text);
    if (Failed(result)) {
        OnError(L"Error getting name, error is %08.8lx", result);
        return result;
    }
    std::wstring name = text;
    result = reader.GetValue(&text);
    if (Failed(result)) {
        OnError(L"Error getting value, error is %08.8lx", result);
        return result;
    }
    OnProcessingInstruction(name.c_str(), text);
    return kParsed;
}

int32_t CXMLReader::DispatchDeclaration(CXmlPullReader& reader) {
    CXMLAttributeList attributes;
    if (ReadAttributes(reader, attributes) < 0) {
        OnError(L"Error getting attributes", -1);
        return kAborted;
    }
    return OnXmlDeclaration(attributes) == 0 ? kAborted : kParsed;
}

int32_t CXMLReader::ReadAttributes(CXmlPullReader& reader, CXMLAttributeList& list) {
    list.clear();
    int32_t result = reader.MoveToFirstAttribute();
    if (result == kx::platform::kXmlFalse) return 1;
    if (result != kx::platform::kXmlOk) {
        PrintDetail(L"Error moving to first attribute, error is %08.8lx", result);
        return -1;
    }
    do {
        if (reader.IsDefault()) continue;  // supplied by a DTD, not written
        const wchar_t* prefix = nullptr;
        const wchar_t* localName = nullptr;
        const wchar_t* value = nullptr;
        if (Failed(result = reader.GetPrefix(&prefix))) {
            PrintDetail(L"Error getting prefix, error is %08.8lx", result);
            return -1;
        }
        if (Failed(result = reader.GetLocalName(&localName))) {
            PrintDetail(L"Error getting local name, error is %08.8lx", result);
            return -1;
        }
        if (Failed(result = reader.GetValue(&value))) {
            PrintDetail(L"Error getting value, error is %08.8lx", result);
            return -1;
        }
        list.push_back({prefix, localName, value});
    } while (reader.MoveToNextAttribute() == kx::platform::kXmlOk);
    return 0;
}

int32_t CXMLReader::OnXmlDeclaration(const CXMLAttributeList&) {
    return 1;
}
int32_t CXMLReader::OnStartElement(const wchar_t*, const wchar_t*, const CXMLAttributeList&,
                                   int32_t) {
    return 1;
}
int32_t CXMLReader::OnEndElement(const wchar_t*, const wchar_t*) {
    return 1;
}
int32_t CXMLReader::OnText(const wchar_t*) {
    return 1;
}
int32_t CXMLReader::OnCData(const wchar_t*) {
    return 1;
}
int32_t CXMLReader::OnProcessingInstruction(const wchar_t*, const wchar_t*) {
    return 1;
}
int32_t CXMLReader::OnComment(const wchar_t*) {
    return 1;
}
int32_t CXMLReader::OnError(const wchar_t*, int32_t) {
    return 1;
}
