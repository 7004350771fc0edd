// The writer's bytes are the same on Windows (XmlLite) and Linux: this test
// runs unchanged on both.
#include <gtest/gtest.h>

#include <string>

#include "alertlog/XMLReader.h"
#include "alertlog/XmlMemoryWriter.h"
#include "common/Text.h"

namespace {

const std::wstring kDeclaration = L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>";

std::wstring EventDump() {
    return L"<![CDATA[A user account was created.\r\n\tAccount Name:\t\"J\u00f6rg\" <jm> & "
           L"'co' \U0001F600 ]]> still inside]]>";
}

void WriteAlertDocument(CXmlMemoryWriter& writer) {
    writer.StartElement(L"Korvex");
    writer.StartElement(L"WorkstationEvents");
    writer.StartElement(L"WorkstationEvent");
    writer.ElementString(L"TimeGenerated", L"2022-01-24 17:03:25");
    writer.ElementString(L"ComputerDomain", L"");
    writer.ElementString(L"ComputerName", L"FS03VULN");
    writer.ElementString(L"EventDump", EventDump().c_str());
    writer.StartElement(L"EventProperties");
    writer.EndElement();
    writer.StartElement(L"EventProperties");
    writer.StartElement(L"EventProperty");
    writer.ElementString(L"PropertyCode", L"TARGETACCOUNT");
    writer.ElementString(L"PropertyValue", L"FS03VULN\\3teamssixf$");
    writer.EndElement();
    writer.EndElement();
    writer.EndElement();
    writer.EndElement();
    writer.EndElement();
}

TEST(XmlMemoryWriterTest, AlertDocumentHasTheSameBytesOnEveryPlatform) {
    CXmlMemoryWriter writer;
    ASSERT_TRUE(writer.IsCreated());
    WriteAlertDocument(writer);
    const std::wstring expected =
        kDeclaration +
        L"\r\n<Korvex>"
        L"\r\n  <WorkstationEvents>"
        L"\r\n    <WorkstationEvent>"
        L"\r\n      <TimeGenerated>2022-01-24 17:03:25</TimeGenerated>"
        L"\r\n      <ComputerDomain></ComputerDomain>"
        L"\r\n      <ComputerName>FS03VULN</ComputerName>"
        L"\r\n      <EventDump>&lt;![CDATA[A user account was created.\r\n\tAccount Name:\t"
        L"\"J\u00f6rg\" &lt;jm&gt; &amp; 'co' \U0001F600 ]]&gt; still inside]]&gt;</EventDump>"
        L"\r\n      <EventProperties></EventProperties>"
        L"\r\n      <EventProperties>"
        L"\r\n        <EventProperty>"
        L"\r\n          <PropertyCode>TARGETACCOUNT</PropertyCode>"
        L"\r\n          <PropertyValue>FS03VULN\\3teamssixf$</PropertyValue>"
        L"\r\n        </EventProperty>"
        L"\r\n      </EventProperties>"
        L"\r\n    </WorkstationEvent>"
        L"\r\n  </WorkstationEvents>"
        L"\r\n</Korvex>";
    std::wstring text = writer.GetText();
    EXPECT_EQ(text, expected);
    std::string bytes = kx::WideToUtf16LE(text);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    EXPECT_EQ(bytes, kx::WideToUtf16LE(expected));
}

TEST(XmlMemoryWriterTest, NewWriterHoldsOnlyTheDeclaration) {
    CXmlMemoryWriter writer;
    EXPECT_EQ(writer.GetText(), kDeclaration);
}

TEST(XmlMemoryWriterTest, EmptyContainerIsClosedWithAFullEndTag) {
    CXmlMemoryWriter writer;
    EXPECT_TRUE(writer.StartElement(L"Korvex"));
    EXPECT_TRUE(writer.StartElement(L"WorkstationEvents"));
    EXPECT_TRUE(writer.EndElement());
    EXPECT_TRUE(writer.EndElement());
    EXPECT_EQ(
        writer.GetText(),
        kDeclaration + L"\r\n<Korvex>\r\n  <WorkstationEvents></WorkstationEvents>\r\n</Korvex>");
}

TEST(XmlMemoryWriterTest, CharactersXmlForbidsBecomeReplacementsInsteadOfCuttingTheText) {
    CXmlMemoryWriter writer;
    writer.StartElement(L"r");
    std::wstring value = L"a";
    value += static_cast<wchar_t>(0x01);
    value += L"b";
    value += static_cast<wchar_t>(0xFFFF);
    value += L"c";
    value += static_cast<wchar_t>(0xD800);  // a lone surrogate
    value += L"d";
    EXPECT_TRUE(writer.ElementString(L"v", value.c_str()));
    writer.EndElement();
    EXPECT_EQ(writer.GetText(),
              kDeclaration + L"\r\n<r>\r\n  <v>a\uFFFDb\uFFFDc\uFFFDd</v>\r\n</r>");
}

class CTextCollector : public CXMLReader {
public:
    std::wstring element;
    std::wstring dump;
    int32_t OnStartElement(const wchar_t*, const wchar_t* localName, const CXMLAttributeList&,
                           int32_t) override {
        element = localName;
        return 1;
    }
    int32_t OnEndElement(const wchar_t*, const wchar_t*) override {
        element.clear();
        return 1;
    }
    int32_t OnText(const wchar_t* value) override {
        if (element == L"EventDump") dump += value;
        return 1;
    }
};

TEST(XmlMemoryWriterTest, ReceiverSeesTheDumpBetweenLiteralCDataMarkers) {
    CXmlMemoryWriter writer;
    WriteAlertDocument(writer);
    CTextCollector reader;
    EXPECT_EQ(reader.ParseXml(writer.GetText().c_str()), 0);
    std::wstring expected = EventDump();
    // A parser turns CR LF into LF.
    expected.erase(expected.find(L'\r'), 1);
    EXPECT_EQ(reader.dump, expected);
}

}  // namespace
