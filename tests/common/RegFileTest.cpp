#include "common/RegFile.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace {

std::vector<kx::RegFileKey> Parse(const std::string& text) {
    std::vector<kx::RegFileKey> keys;
    kx::RegFileError error;
    EXPECT_TRUE(kx::ParseRegFile(text, &keys, &error))
        << "line " << error.line << ": " << kx::WideToUtf8(error.message);
    return keys;
}

kx::RegFileError ParseError(const std::string& text) {
    std::vector<kx::RegFileKey> keys;
    kx::RegFileError error;
    EXPECT_FALSE(kx::ParseRegFile(text, &keys, &error));
    return error;
}

TEST(RegFileTest, ReadsWhatTheRegistryEditorExports) {
    // UTF-16LE with a byte-order mark and CR LF, hex data wrapped over lines.
    std::wstring text =
        L"Windows Registry Editor Version 5.00\r\n\r\n"
        L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Talmor Software\\Korvex\\Settings]\r\n"
        L"\"KFSServer\"=\"kfs.example.com\"\r\n"
        L"\"EnableWorkstationAuditAgent\"=dword:00000001\r\n"
        L"\"Path\"=hex(2):25,00,53,00,\\\r\n  79,00,00,00\r\n"
        L"@=\"d\\\\e \\\"f\\\"\"\r\n"
        L"; a comment\r\n"
        L"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
        L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n\"Gone\"=-\r\n";
    std::vector<kx::RegFileKey> keys = Parse("\xFF\xFE" + kx::WideToUtf16LE(text));
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].path,
              L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Talmor Software\\Korvex\\Settings");
    ASSERT_EQ(keys[0].values.size(), 4u);
    EXPECT_EQ(keys[0].values[0].type, 1u);
    EXPECT_EQ(keys[0].values[0].data, kx::RegStringData(L"kfs.example.com"));
    EXPECT_EQ(keys[0].values[1].data, kx::RegDwordData(1));
    EXPECT_EQ(keys[0].values[2].type, 2u);
    EXPECT_EQ(keys[0].values[2].data, kx::RegStringData(L"%Sy"));
    EXPECT_EQ(keys[0].values[3].name, L"");
    EXPECT_EQ(keys[0].values[3].data, kx::RegStringData(L"d\\e \"f\""));
    EXPECT_TRUE(keys[1].remove);
    EXPECT_EQ(keys[1].path, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Old");
    ASSERT_EQ(keys[2].values.size(), 1u);
    EXPECT_TRUE(keys[2].values[0].remove);
}

TEST(RegFileTest, EveryValueSurvivesWritingAndReading) {
    kx::RegFileKey key;
    key.path = L"HKEY_CURRENT_USER\\Software\\K \u00e9";
    key.values = {
        {L"Text \"q\" \\", 1, kx::RegStringData(L"a\\b \"c\" \u00e9\u4e2d"), false},
        {L"", 1, kx::RegStringData(L""), false},
        {L"Unterminated", 1, kx::WideToUtf16LE(L"abc"), false},
        {L"Odd", 1, std::string("a\0b", 3), false},
        {L"Newline", 1, kx::RegStringData(L"two\nlines"), false},
        {L"Expand", 2, kx::RegStringData(L"%SystemRoot%\\system32\\a-rather-long-file-name.dll"),
         false},
        {L"Number", 4, kx::RegDwordData(0xDEADBEEF), false},
        {L"ShortNumber", 4, std::string("\x01\x02", 2), false},
        {L"List", 7, kx::RegMultiStringData({L"one", L"two"}), false},
        {L"Binary", 3, std::string("\x00\x01\xff", 3), false},
        {L"Empty", 3, "", false},
        {L"Quad", 11, std::string(8, '\x7f'), false},
        {L"Big", 0xFFFF0000, std::string(200, '\x5a'), false},
    };
    std::string text = kx::FormatRegFile({key});
    std::vector<kx::RegFileKey> back = Parse(text);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].path, key.path);
    ASSERT_EQ(back[0].values.size(), key.values.size());
    for (std::size_t i = 0; i < key.values.size(); ++i) {
        EXPECT_EQ(back[0].values[i].name, key.values[i].name) << i;
        EXPECT_EQ(back[0].values[i].type, key.values[i].type) << i;
        EXPECT_EQ(back[0].values[i].data, key.values[i].data) << i;
    }
    // Readable where it can be: quoted text and dword; the rest as hex.
    EXPECT_NE(text.find("\"Text \\\"q\\\" \\\\\"=\"a\\\\b \\\"c\\\" \xC3\xA9\xE4\xB8\xAD\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Number\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(text.find("\"Unterminated\"=hex(1):61,00,62,00,63,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"Empty\"=hex:\n"), std::string::npos);
    // Long data is wrapped within the registry editor's 80 columns.
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 1;
    }
}

TEST(RegFileTest, FaultsNameTheirLine) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    EXPECT_EQ(ParseError("REGEDIT4\n").line, 1);
    EXPECT_EQ(ParseError("").line, 0);
    EXPECT_EQ(ParseError(header + "\"a\"=\"b\"\n").line, 3);  // before any key
    kx::RegFileError error = ParseError(header + "[K]\n\"a\"=dword:123456789\n");
    EXPECT_EQ(error.line, 4);
    EXPECT_NE(error.message.find(L"dword:"), std::wstring::npos);
    EXPECT_EQ(ParseError(header + "[K]\n\"a\"=hex:1,zz\n").line, 4);
    EXPECT_EQ(ParseError(header + "[K]\n\"a\"=hex(g):00\n").line, 4);
    EXPECT_EQ(ParseError(header + "[K]\n\"a=\"b\"\n").line, 4);
    EXPECT_EQ(ParseError(header + "[K]\n\"a\"=\"C:\\Windows\"\n").line, 4);  // unescaped backslash
    EXPECT_EQ(ParseError(header + "[K]\n\"a\"=\"b\" junk\n").line, 4);
    EXPECT_EQ(ParseError(header + "[K\n").line, 3);
    EXPECT_EQ(ParseError(header + "[-K]\n\"a\"=\"b\"\n").line, 4);
    EXPECT_EQ(ParseError(header + "garbage\n").line, 3);
    // Bytes that are not UTF-8 would be lost on the next write: refused.
    EXPECT_EQ(ParseError(header + "[K]\n\"a\"=\"caf\xE9\"\n").line, 0);
}

// Found by fuzzing: a UTF-16 file can name a key or value with characters
// that the UTF-8 file written back cannot hold, so the name changed (an
// unpaired surrogate became U+FFFD) or the file could not be read again.
TEST(RegFileTest, RefusesNamesThatWritingBackWouldChange) {
    auto utf16File = [](const std::wstring& body) {
        return std::string("\xFF\xFE") +
               kx::WideToUtf16LE(L"Windows Registry Editor Version 5.00\r\n\r\n" + body);
    };
    const std::wstring surrogate(1, static_cast<wchar_t>(0xDDFF));
    EXPECT_EQ(
        ParseError(utf16File(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\K" + surrogate + L"]\r\n")).line, 3);
    EXPECT_EQ(ParseError(utf16File(L"[K]\r\n\"v" + surrogate + L"\"=dword:1\r\n")).line, 4);
    EXPECT_EQ(ParseError(utf16File(std::wstring(L"[K\0K]\r\n", 7))).line, 3);
    EXPECT_EQ(ParseError(utf16File(L"[K]\r\n\"tab\there\"=dword:1\r\n")).line, 4);
    // Text data is no name: it is written as hex and comes back exactly.
    std::vector<kx::RegFileKey> keys = Parse(utf16File(L"[K]\r\n\"v\"=\"" + surrogate + L"\"\r\n"));
    ASSERT_EQ(keys.size(), 1u);
    std::vector<kx::RegFileKey> again = Parse(kx::FormatRegFile(keys));
    ASSERT_EQ(again.size(), 1u);
    ASSERT_EQ(again[0].values.size(), 1u);
    EXPECT_EQ(again[0].values[0].data, keys[0].values[0].data);
}

TEST(RegFileTest, ToleratesWhatHandsWrite) {
    std::vector<kx::RegFileKey> keys = Parse(
        "\xEF\xBB\xBF\n  \nWindows Registry Editor Version 5.00\n[K]\n"
        "  \"a\" = dword:A\n\"b\"=hex:01, 02 ,\n\"c\"=hex(7):\n");
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_EQ(keys[0].values.size(), 3u);
    EXPECT_EQ(keys[0].values[0].data, kx::RegDwordData(10));
    EXPECT_EQ(keys[0].values[1].data, std::string("\x01\x02", 2));
    EXPECT_EQ(keys[0].values[2].data, "");
    EXPECT_EQ(keys[0].values[2].type, 7u);
}

TEST(RegFileTest, NamesAFileCanHold) {
    EXPECT_TRUE(kx::IsRegFileName(L"Korvex Settings \u00e9 [x] \"q\""));
    EXPECT_FALSE(kx::IsRegFileName(L"line\nbreak"));
    EXPECT_FALSE(kx::IsRegFileName(std::wstring(L"nul\0x", 5)));
    std::wstring loneSurrogate(1, static_cast<wchar_t>(0xD800));
    EXPECT_FALSE(kx::IsRegFileName(loneSurrogate));
}

}  // namespace
