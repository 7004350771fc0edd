// The registry port's answers, the same on the Windows registry (under Wine)
// and on the Linux file-backed registry.

#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "RegistrySandbox.h"
#include "common/RegFile.h"
#include "common/Text.h"

namespace reg = kx::platform;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(reg::RegistryCreateKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(),
                                         reg::kKeyAllAccess, &key_),
                  0u);
    }
    void TearDown() override {
        if (key_) reg::RegistryCloseKey(key_);
    }

    void Set(reg::RegistryKeyHandle key, const std::wstring& name, uint32_t type,
             const std::string& data) {
        ASSERT_EQ(
            reg::RegistrySetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())),
            0u);
    }

    std::string Get(reg::RegistryKeyHandle key, const std::wstring& name, uint32_t* type) {
        uint32_t size = 0;
        if (reg::RegistryQueryValue(key, name, type, nullptr, &size) != 0) return "<missing>";
        std::string data(size, '\0');
        EXPECT_EQ(reg::RegistryQueryValue(key, name, type, data.data(), &size), 0u);
        return data;
    }

    std::vector<std::wstring> Subkeys(reg::RegistryKeyHandle key) {
        std::vector<std::wstring> names;
        wchar_t buffer[300];
        for (uint32_t i = 0; reg::RegistryEnumKey(key, i, buffer, 300) == 0; ++i) {
            names.emplace_back(buffer);
        }
        return names;
    }

    CRegistrySandbox sandbox_;
    reg::RegistryKeyHandle key_ = 0;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeAndExactBytes) {
    const std::string noTerminator = kx::WideToUtf16LE(L"ab");
    Set(key_, L"Text", reg::kRegSz, kx::RegStringData(L"h\u00e9llo"));
    Set(key_, L"Bare", reg::kRegSz, noTerminator);
    Set(key_, L"Path", reg::kRegExpandSz, kx::RegStringData(L"%SystemRoot%\\x.dll"));
    Set(key_, L"Number", reg::kRegDword, kx::RegDwordData(0x01020304));
    Set(key_, L"List", reg::kRegMultiSz, kx::RegMultiStringData({L"a", L"b"}));
    Set(key_, L"Blob", reg::kRegBinary, std::string("\x00\xff\x10", 3));
    Set(key_, L"", 0x12345, "odd");

    uint32_t type = 0;
    EXPECT_EQ(Get(key_, L"TEXT", &type), kx::RegStringData(L"h\u00e9llo"));
    EXPECT_EQ(type, reg::kRegSz);
#ifndef _WIN32
    // Windows keeps a string without its terminator as given; Wine adds one.
    EXPECT_EQ(Get(key_, L"Bare", &type), noTerminator);
#endif
    EXPECT_EQ(Get(key_, L"Path", &type), kx::RegStringData(L"%SystemRoot%\\x.dll"));
    EXPECT_EQ(type, reg::kRegExpandSz);
    EXPECT_EQ(Get(key_, L"Number", &type), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(Get(key_, L"List", &type), kx::RegMultiStringData({L"a", L"b"}));
    EXPECT_EQ(type, reg::kRegMultiSz);
    EXPECT_EQ(Get(key_, L"Blob", &type), std::string("\x00\xff\x10", 3));
    EXPECT_EQ(Get(key_, L"", &type), "odd");
    EXPECT_EQ(type, 0x12345u);
}

TEST_F(RegistryTest, QueryAnswersSizeAndMoreDataAndMissing) {
    Set(key_, L"Value", reg::kRegBinary, "123456");
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(reg::RegistryQueryValue(key_, L"Value", &type, nullptr, &size), 0u);
    EXPECT_EQ(size, 6u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(reg::RegistryQueryValue(key_, L"Value", &type, small, &size), reg::kRegistryMoreData);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(reg::RegistryQueryValue(key_, L"Value", &type, nullptr, nullptr), 0u);
    EXPECT_EQ(type, reg::kRegBinary);
    EXPECT_EQ(reg::RegistryQueryValue(key_, L"Nothing", &type, nullptr, &size),
              reg::kRegistryFileNotFound);

    reg::RegistryKeyHandle missing = 0;
    EXPECT_EQ(reg::RegistryOpenKey(key_, L"No\\Such", reg::kKeyRead, &missing),
              reg::kRegistryFileNotFound);
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseKeepCaseAndEnumerateSorted) {
    for (const wchar_t* name : {L"b", L"Alpha", L"c\\deep"}) {
        reg::RegistryKeyHandle child = 0;
        ASSERT_EQ(reg::RegistryCreateKey(key_, name, reg::kKeyWrite, &child), 0u);
        reg::RegistryCloseKey(child);
    }
    EXPECT_EQ(Subkeys(key_), (std::vector<std::wstring>{L"Alpha", L"b", L"c"}));

    reg::RegistryKeyHandle child = 0;
    ASSERT_EQ(reg::RegistryOpenKey(key_, L"ALPHA", reg::kKeyAllAccess, &child), 0u);
    Set(child, L"v", reg::kRegDword, kx::RegDwordData(1));
    reg::RegistryCloseKey(child);
    ASSERT_EQ(reg::RegistryCreateKey(key_, L"alpha", reg::kKeyRead, &child), 0u);
    reg::RegistryCloseKey(child);
    EXPECT_EQ(Subkeys(key_), (std::vector<std::wstring>{L"Alpha", L"b", L"c"}));

    wchar_t tooSmall[3];
    EXPECT_EQ(reg::RegistryEnumKey(key_, 0, tooSmall, 3), reg::kRegistryMoreData);
    EXPECT_EQ(reg::RegistryEnumKey(key_, 3, tooSmall, 3), reg::kRegistryNoMoreItems);

    reg::RegistryKeyInfo info;
    Set(key_, L"LongerName", reg::kRegBinary, "12345");
    ASSERT_EQ(reg::RegistryQueryInfoKey(key_, &info), 0u);
    EXPECT_EQ(info.subkeyCount, 3u);
    EXPECT_EQ(info.maxSubkeyLength, 5u);
    EXPECT_EQ(info.valueCount, 1u);
    EXPECT_EQ(info.maxValueNameLength, 10u);
    EXPECT_EQ(info.maxValueDataSize, 5u);
}

TEST_F(RegistryTest, ValuesEnumerateWithNameTypeAndData) {
    Set(key_, L"First", reg::kRegSz, kx::RegStringData(L"one"));
    Set(key_, L"Second", reg::kRegDword, kx::RegDwordData(2));
    std::vector<std::wstring> names;
    reg::RegistryValue value;
    for (uint32_t i = 0; reg::RegistryEnumValue(key_, i, &value) == 0; ++i) {
        names.push_back(value.name);
        if (value.name == L"Second") {
            EXPECT_EQ(value.type, reg::kRegDword);
            EXPECT_EQ(value.data, kx::RegDwordData(2));
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"First", L"Second"}));
    EXPECT_EQ(reg::RegistryEnumValue(key_, 2, &value), reg::kRegistryNoMoreItems);
}

TEST_F(RegistryTest, HandlesAreLimitedToTheirAccess) {
    Set(key_, L"Value", reg::kRegDword, kx::RegDwordData(1));
    reg::RegistryKeyHandle reader = 0;
    ASSERT_EQ(
        reg::RegistryOpenKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(), reg::kKeyRead, &reader),
        0u);
    std::string data = kx::RegDwordData(2);
    EXPECT_EQ(reg::RegistrySetValue(reader, L"Value", reg::kRegDword, data.data(), 4),
              reg::kRegistryAccessDenied);
    EXPECT_EQ(reg::RegistryDeleteValue(reader, L"Value"), reg::kRegistryAccessDenied);
    reg::RegistryCloseKey(reader);

    reg::RegistryKeyHandle writer = 0;
    ASSERT_EQ(
        reg::RegistryOpenKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(), reg::kKeyWrite, &writer),
        0u);
    uint32_t size = 4;
    char buffer[4];
    EXPECT_EQ(reg::RegistryQueryValue(writer, L"Value", nullptr, buffer, &size),
              reg::kRegistryAccessDenied);
    reg::RegistryCloseKey(writer);
}

TEST_F(RegistryTest, The64BitViewFlagReadsTheSameKeys) {
    Set(key_, L"Value", reg::kRegDword, kx::RegDwordData(7));
    reg::RegistryKeyHandle viewed = 0;
    ASSERT_EQ(reg::RegistryOpenKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(),
                                   reg::kKeyRead | reg::kKeyWow64_64Key, &viewed),
              0u);
    uint32_t type = 0;
    EXPECT_EQ(Get(viewed, L"Value", &type), kx::RegDwordData(7));
    reg::RegistryCloseKey(viewed);
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
    reg::RegistryKeyHandle child = 0;
    ASSERT_EQ(reg::RegistryCreateKey(key_, L"Parent\\Child", reg::kKeyAllAccess, &child), 0u);
    Set(key_, L"Value", reg::kRegDword, kx::RegDwordData(1));

    EXPECT_EQ(reg::RegistryDeleteValue(key_, L"value"), 0u);
    EXPECT_EQ(reg::RegistryDeleteValue(key_, L"Value"), reg::kRegistryFileNotFound);
    // A key with subkeys stays; the tree call takes it all.
    EXPECT_EQ(reg::RegistryDeleteKey(key_, L"Parent", 0), reg::kRegistryAccessDenied);
    EXPECT_EQ(reg::RegistryDeleteKey(key_, L"Parent\\Child", reg::kKeyWow64_64Key), 0u);
    // A handle to a deleted key answers "key deleted".
    std::string data = kx::RegDwordData(1);
    EXPECT_EQ(reg::RegistrySetValue(child, L"v", reg::kRegDword, data.data(), 4),
              reg::kRegistryKeyDeleted);
    reg::RegistryCloseKey(child);

    ASSERT_EQ(reg::RegistryCreateKey(key_, L"Parent\\Child\\Grandchild", reg::kKeyRead, &child),
              0u);
    reg::RegistryCloseKey(child);
    EXPECT_EQ(reg::RegistryDeleteTree(key_, L"Parent"), 0u);
    EXPECT_TRUE(Subkeys(key_).empty());
    EXPECT_EQ(reg::RegistryDeleteTree(key_, L"Parent"), reg::kRegistryFileNotFound);
}

TEST_F(RegistryTest, RemoteComputersCannotBeReachedAndTheLocalOneCan) {
    reg::RegistryKeyHandle remote = 0;
    EXPECT_EQ(reg::RegistryConnect(L"\\\\KX-NO-SUCH-PC", reg::kHkeyLocalMachine, &remote),
              reg::kRegistryBadNetPath);

    reg::RegistryKeyHandle local = 0;
    ASSERT_EQ(reg::RegistryConnect(L"", reg::kHkeyCurrentUser, &local), 0u);
    reg::RegistryKeyHandle scratch = 0;
    EXPECT_EQ(reg::RegistryOpenKey(local, sandbox_.ScratchKey(), reg::kKeyRead, &scratch), 0u);
    reg::RegistryCloseKey(scratch);
    EXPECT_EQ(reg::RegistryCloseKey(local), 0u);
}

TEST_F(RegistryTest, ClosingAPredefinedRootIsHarmless) {
    EXPECT_EQ(reg::RegistryCloseKey(reg::kHkeyCurrentUser), 0u);
    reg::RegistryKeyHandle again = 0;
    EXPECT_EQ(
        reg::RegistryOpenKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(), reg::kKeyRead, &again),
        0u);
    reg::RegistryCloseKey(again);
}

}  // namespace
