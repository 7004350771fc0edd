// The XML reader: any text, every node handed to the callbacks, whose string
// arguments are read whole so that a dangling one shows.
#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>

#include "FuzzText.h"
#include "alertlog/XMLReader.h"

namespace {

class CTouchingReader : public CXMLReader {
public:
    int32_t OnXmlDeclaration(const CXMLAttributeList& attributes) override {
        Touch(attributes);
        return 1;
    }
    int32_t OnStartElement(const wchar_t* prefix, const wchar_t* localName,
                           const CXMLAttributeList& attributes, int32_t) override {
        Touch(prefix), Touch(localName), Touch(attributes);
        return 1;
    }
    int32_t OnEndElement(const wchar_t* prefix, const wchar_t* localName) override {
        Touch(prefix), Touch(localName);
        return 1;
    }
    int32_t OnText(const wchar_t* value) override { return Touch(value), 1; }
    int32_t OnCData(const wchar_t* value) override { return Touch(value), 1; }
    int32_t OnProcessingInstruction(const wchar_t* name, const wchar_t* value) override {
        Touch(name), Touch(value);
        return 1;
    }
    int32_t OnComment(const wchar_t* value) override { return Touch(value), 1; }
    int32_t OnError(const wchar_t* format, int32_t) override { return Touch(format), 1; }

    std::size_t touched = 0;

private:
    void Touch(const wchar_t* text) {
        if (text != nullptr) touched += std::wcslen(text);
    }
    void Touch(const CXMLAttributeList& attributes) {
        for (const CXMLAttribute& a : attributes) {
            touched += a.Prefix.size() + a.LocalName.size() + a.Value.size();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::wstring text = kx::fuzz::DecodeFuzzText(bytes, data[0]);
    CTouchingReader reader;
    reader.ParseXml(text.c_str());
    return 0;
}
