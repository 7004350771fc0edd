#include "platform/Xml.h"

#include <objbase.h>
#include <windows.h>
#include <xmllite.h>

namespace kx::platform {
namespace {

template <typename T>
void ReleaseAndClear(T*& pointer) {
    if (pointer) pointer->Release();
    pointer = nullptr;
}

int32_t CopyOut(HRESULT result, const WCHAR* text, const wchar_t** out) {
    if (!out) return E_INVALIDARG;
    *out = SUCCEEDED(result) && text ? text : L"";
    return result;
}

}  // namespace

struct CXmlMemoryStream::Impl {
    IStream* stream = nullptr;
    ~Impl() { ReleaseAndClear(stream); }
};

CXmlMemoryStream::CXmlMemoryStream() = default;
CXmlMemoryStream::~CXmlMemoryStream() = default;

bool CXmlMemoryStream::Create() {
    impl_ = std::make_unique<Impl>();
    return SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &impl_->stream));
}

bool CXmlMemoryStream::Write(const void* bytes, std::size_t count) {
    if (!impl_ || !impl_->stream) return false;
    ULONG written = 0;
    HRESULT result = impl_->stream->Write(bytes, static_cast<ULONG>(count), &written);
    return SUCCEEDED(result) && written == count;
}

bool CXmlMemoryStream::Rewind() {
    if (!impl_ || !impl_->stream) return false;
    LARGE_INTEGER zero{};
    return SUCCEEDED(impl_->stream->Seek(zero, STREAM_SEEK_SET, nullptr));
}

bool CXmlMemoryStream::GetSize(uint64_t* size) {
    if (!impl_ || !impl_->stream || !size) return false;
    STATSTG status{};
    if (FAILED(impl_->stream->Stat(&status, STATFLAG_NONAME))) return false;
    *size = status.cbSize.QuadPart;
    return true;
}

bool CXmlMemoryStream::Read(void* buffer, std::size_t count, std::size_t* read) {
    if (!impl_ || !impl_->stream) return false;
    ULONG done = 0;
    HRESULT result = impl_->stream->Read(buffer, static_cast<ULONG>(count), &done);
    if (read) *read = done;
    return SUCCEEDED(result);
}

struct CXmlPullReader::Impl {
    IXmlReader* reader = nullptr;
    ~Impl() { ReleaseAndClear(reader); }
};

CXmlPullReader::CXmlPullReader() = default;
CXmlPullReader::~CXmlPullReader() = default;

int32_t CXmlPullReader::Create() {
    impl_ = std::make_unique<Impl>();
    return CreateXmlReader(__uuidof(IXmlReader), reinterpret_cast<void**>(&impl_->reader), nullptr);
}

int32_t CXmlPullReader::ProhibitDtd() {
    if (!impl_ || !impl_->reader) return E_UNEXPECTED;
    return impl_->reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
}

int32_t CXmlPullReader::SetInput(CXmlMemoryStream& stream) {
    if (!impl_ || !impl_->reader || !stream.GetImpl()) return E_UNEXPECTED;
    return impl_->reader->SetInput(stream.GetImpl()->stream);
}

int32_t CXmlPullReader::Read(XmlNodeType* type) {
    if (!impl_ || !impl_->reader || !type) return E_UNEXPECTED;
    ::XmlNodeType nodeType = ::XmlNodeType_None;
    HRESULT result = impl_->reader->Read(&nodeType);
    *type = static_cast<XmlNodeType>(nodeType);
    return result;
}

int32_t CXmlPullReader::GetPrefix(const wchar_t** text) {
    const WCHAR* value = nullptr;
    HRESULT result = impl_->reader->GetPrefix(&value, nullptr);
    return CopyOut(result, value, text);
}

int32_t CXmlPullReader::GetLocalName(const wchar_t** text) {
    const WCHAR* value = nullptr;
    HRESULT result = impl_->reader->GetLocalName(&value, nullptr);
    return CopyOut(result, value, text);
}

int32_t CXmlPullReader::GetValue(const wchar_t** text) {
    const WCHAR* value = nullptr;
    HRESULT result = impl_->reader->GetValue(&value, nullptr);
    return CopyOut(result, value, text);
}

bool CXmlPullReader::IsEmptyElement() {
    return impl_->reader->IsEmptyElement() != FALSE;
}

int32_t CXmlPullReader::MoveToFirstAttribute() {
    return impl_->reader->MoveToFirstAttribute();
}

int32_t CXmlPullReader::MoveToNextAttribute() {
    return impl_->reader->MoveToNextAttribute();
}

int32_t CXmlPullReader::MoveToElement() {
    return impl_->reader->MoveToElement();
}

bool CXmlPullReader::IsDefault() {
    return impl_->reader->IsDefault() != FALSE;
}

struct CXmlTextWriter::Impl {
    IXmlWriter* writer = nullptr;
    IUnknown* output = nullptr;
    ~Impl() {
        ReleaseAndClear(output);
        ReleaseAndClear(writer);
    }
};

CXmlTextWriter::CXmlTextWriter() = default;
CXmlTextWriter::~CXmlTextWriter() = default;

int32_t CXmlTextWriter::Create() {
    impl_ = std::make_unique<Impl>();
    return CreateXmlWriter(__uuidof(IXmlWriter), reinterpret_cast<void**>(&impl_->writer), nullptr);
}

int32_t CXmlTextWriter::CreateOutput(CXmlMemoryStream& stream, const wchar_t* encodingName) {
    if (!impl_ || !impl_->writer || !stream.GetImpl()) return E_UNEXPECTED;
    return CreateXmlWriterOutputWithEncodingName(stream.GetImpl()->stream, nullptr, encodingName,
                                                 &impl_->output);
}

int32_t CXmlTextWriter::SetOutput() {
    if (!impl_ || !impl_->writer || !impl_->output) return E_UNEXPECTED;
    return impl_->writer->SetOutput(impl_->output);
}

int32_t CXmlTextWriter::SetIndent(bool indent) {
    if (!impl_ || !impl_->writer) return E_UNEXPECTED;
    return impl_->writer->SetProperty(XmlWriterProperty_Indent, indent ? TRUE : FALSE);
}

int32_t CXmlTextWriter::WriteStartDocumentOmitStandalone() {
    if (!impl_ || !impl_->writer) return E_UNEXPECTED;
    return impl_->writer->WriteStartDocument(XmlStandalone_Omit);
}

int32_t CXmlTextWriter::WriteStartElement(const wchar_t* name) {
    if (!impl_ || !impl_->writer) return E_UNEXPECTED;
    return impl_->writer->WriteStartElement(nullptr, name, nullptr);
}

int32_t CXmlTextWriter::WriteString(const wchar_t* text) {
    if (!impl_ || !impl_->writer) return E_UNEXPECTED;
    return impl_->writer->WriteString(text);
}

// Composed of the three calls that XmlLite's WriteElementString stands for:
// Wine's WriteElementString writes the text unescaped, Windows' escapes it.
int32_t CXmlTextWriter::WriteElementString(const wchar_t* name, const wchar_t* value) {
    HRESULT result = WriteStartElement(name);
    if (FAILED(result)) return result;
    HRESULT written = WriteString(value ? value : L"");
    result = WriteFullEndElement();
    return FAILED(written) ? written : result;
}

int32_t CXmlTextWriter::WriteFullEndElement() {
    if (!impl_ || !impl_->writer) return E_UNEXPECTED;
    return impl_->writer->WriteFullEndElement();
}

int32_t CXmlTextWriter::Flush() {
    if (!impl_ || !impl_->writer) return E_UNEXPECTED;
    return impl_->writer->Flush();
}

}  // namespace kx::platform
