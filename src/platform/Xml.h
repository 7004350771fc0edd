#pragma once
// XML over in-memory text: a byte stream, a pull reader and a writer, shaped
// like XmlLite's IStream, IXmlReader and IXmlWriter. Windows uses XmlLite;
// Linux uses libxml2's push parser for reading and a writer of its own that
// produces XmlLite's bytes. Results are HRESULT-style codes on both platforms.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kx::platform {

inline constexpr int32_t kXmlOk = 0;     // S_OK
inline constexpr int32_t kXmlFalse = 1;  // S_FALSE: no more nodes, no attributes
inline constexpr int32_t kXmlInvalidArgument = static_cast<int32_t>(0x80070057);
inline constexpr int32_t kXmlUnexpected = static_cast<int32_t>(0x8000FFFF);
inline constexpr int32_t kXmlOutOfMemory = static_cast<int32_t>(0x8007000E);
// XmlLite's codes for malformed input, a prohibited DTD, a character XML does
// not allow and a lone surrogate.
inline constexpr int32_t kXmlSyntaxError = static_cast<int32_t>(0xC00CEE2D);
inline constexpr int32_t kXmlDtdProhibited = static_cast<int32_t>(0xC00CEE4F);
inline constexpr int32_t kXmlInvalidCharacter = static_cast<int32_t>(0xC00CEE2B);
inline constexpr int32_t kXmlInvalidSurrogate = static_cast<int32_t>(0xC00CEF0C);

// XmlLite's node type numbers.
enum XmlNodeType : int32_t {
    kXmlNodeNone = 0,
    kXmlNodeElement = 1,
    kXmlNodeAttribute = 2,
    kXmlNodeText = 3,
    kXmlNodeCData = 4,
    kXmlNodeProcessingInstruction = 7,
    kXmlNodeComment = 8,
    kXmlNodeDocumentType = 10,
    kXmlNodeWhitespace = 13,
    kXmlNodeEndElement = 15,
    kXmlNodeXmlDeclaration = 17,
};

// A growable in-memory byte stream (CreateStreamOnHGlobal, delete-on-release).
class CXmlMemoryStream {
public:
    CXmlMemoryStream();
    ~CXmlMemoryStream();
    CXmlMemoryStream(const CXmlMemoryStream&) = delete;
    CXmlMemoryStream& operator=(const CXmlMemoryStream&) = delete;

    bool Create();
    // Writes at the current position and moves past what was written.
    bool Write(const void* bytes, std::size_t count);
    bool Rewind();
    bool GetSize(uint64_t* size);
    // Reads up to count bytes from the current position.
    bool Read(void* buffer, std::size_t count, std::size_t* read);

    struct Impl;
    Impl* GetImpl() { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};

// A pull reader over a stream of UTF-16 text (IXmlReader). Text handed out
// stays valid until the next Read or Move call.
class CXmlPullReader {
public:
    CXmlPullReader();
    ~CXmlPullReader();
    CXmlPullReader(const CXmlPullReader&) = delete;
    CXmlPullReader& operator=(const CXmlPullReader&) = delete;

    int32_t Create();       // CreateXmlReader
    int32_t ProhibitDtd();  // XmlReaderProperty_DtdProcessing := DtdProcessing_Prohibit
    // Reads the stream from its current position; it must outlive the reader.
    int32_t SetInput(CXmlMemoryStream& stream);

    // S_OK with the next node's type; S_FALSE at the end; an error code for
    // malformed input, after every node before the fault has been read.
    int32_t Read(XmlNodeType* type);
    int32_t GetPrefix(const wchar_t** text);
    int32_t GetLocalName(const wchar_t** text);
    int32_t GetValue(const wchar_t** text);
    bool IsEmptyElement();  // the element was written as <name/>
    int32_t MoveToFirstAttribute();
    int32_t MoveToNextAttribute();
    int32_t MoveToElement();
    bool IsDefault();  // the current attribute came from a DTD

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A writer into a memory stream (IXmlWriter with its output), indenting as
// XmlLite does: CR LF and two blanks per level.
class CXmlTextWriter {
public:
    CXmlTextWriter();
    ~CXmlTextWriter();
    CXmlTextWriter(const CXmlTextWriter&) = delete;
    CXmlTextWriter& operator=(const CXmlTextWriter&) = delete;

    int32_t Create();  // CreateXmlWriter
    // CreateXmlWriterOutputWithEncodingName; only "UTF-16" is needed here.
    int32_t CreateOutput(CXmlMemoryStream& stream, const wchar_t* encodingName);
    int32_t SetOutput();
    int32_t SetIndent(bool indent);
    int32_t WriteStartDocumentOmitStandalone();
    int32_t WriteStartElement(const wchar_t* name);
    int32_t WriteString(const wchar_t* text);
    // An element holding escaped text, closed with a full end tag.
    int32_t WriteElementString(const wchar_t* name, const wchar_t* value);
    int32_t WriteFullEndElement();
    int32_t Flush();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kx::platform
