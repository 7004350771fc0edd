#pragma once
// A pull parser with callbacks: ParseXml reads a UTF-16 document held in
// memory and calls one virtual handler per node, in document order. A reader
// of a particular document derives from CXMLReader and overrides the handlers
// it needs; every default handler does nothing and returns 1.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {
class CXmlPullReader;
}

// One attribute of an element or of the XML declaration.
class CXMLAttribute {
public:
    std::wstring Prefix;     // as written; empty when there is none
    std::wstring LocalName;  // the name without its prefix
    std::wstring Value;      // entities resolved
};

using CXMLAttributeList = std::vector<CXMLAttribute>;

class CXMLReader {
public:
    // Results of ParseXml.
    static constexpr int32_t kParsed = 0;  // whole input read, or the parser stopped at a fault
    static constexpr int32_t kNullDocument = 160;
    static constexpr int32_t kAborted = -1;

    CXMLReader() = default;
    virtual ~CXMLReader() = default;

    // 0 after the input has been read or the parser stopped at malformed
    // input; 160 for a null text; -1 when the stream could not be made or the
    // attributes read, or OnXmlDeclaration returned 0; otherwise the failing
    // platform code (a negative HRESULT).
    int32_t ParseXml(const wchar_t* text);

    // String arguments are valid only during the call.
    virtual int32_t OnXmlDeclaration(const CXMLAttributeList& attributes);
    virtual int32_t OnStartElement(const wchar_t* prefix, const wchar_t* localName,
                                   const CXMLAttributeList& attributes, int32_t isEmpty);
    virtual int32_t OnEndElement(const wchar_t* prefix, const wchar_t* localName);
    virtual int32_t OnText(const wchar_t* value);
    virtual int32_t OnCData(const wchar_t* value);
    virtual int32_t OnProcessingInstruction(const wchar_t* name, const wchar_t* value);
    virtual int32_t OnComment(const wchar_t* value);
    // format is a printf-style text (most hold "%08.8lx"); code goes beside it.
    virtual int32_t OnError(const wchar_t* format, int32_t code);

    // 1 when the current node has no attributes, 0 after reading them into
    // list, -1 on failure (the detail goes to standard output).
    static int32_t ReadAttributes(kx::platform::CXmlPullReader& reader, CXMLAttributeList& list);

private:
    int32_t DispatchNode(kx::platform::CXmlPullReader& reader, int32_t nodeType);
    int32_t DispatchElement(kx::platform::CXmlPullReader& reader);
    int32_t DispatchEndElement(kx::platform::CXmlPullReader& reader);
    int32_t DispatchValueNode(kx::platform::CXmlPullReader& reader, int32_t nodeType);
    int32_t DispatchProcessingInstruction(kx::platform::CXmlPullReader& reader);
    int32_t DispatchDeclaration(kx::platform::CXmlPullReader& reader);
    int32_t ReadNames(kx::platform::CXmlPullReader& reader, std::wstring& prefix,
                      std::wstring& localName);
};
