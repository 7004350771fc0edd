#include "config/RegistryKey.h"

#include <gtest/gtest.h>

#include "RegistrySandbox.h"
#include "common/RegFile.h"
#include "common/Text.h"

namespace reg = kx::platform;

namespace {

class RegistryKeyTest : public ::testing::Test {
protected:
    // Stores a value of any type and size, bypassing CRegistryKey.
    void Store(const std::wstring& name, uint32_t type, const std::string& data) {
        reg::RegistryKeyHandle key = 0;
        ASSERT_EQ(reg::RegistryCreateKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(),
                                         reg::kKeyAllAccess, &key),
                  0u);
        // Zeros beyond the value: Wine looks past the end of an unterminated string.
        std::string padded = data + std::string(4, '\0');
        ASSERT_EQ(reg::RegistrySetValue(key, name, type, padded.data(),
                                        static_cast<uint32_t>(data.size())),
                  0u);
        reg::RegistryCloseKey(key);
    }

    std::string Stored(const std::wstring& name, uint32_t* type) {
        reg::RegistryKeyHandle key = 0;
        if (reg::RegistryOpenKey(reg::kHkeyCurrentUser, sandbox_.ScratchKey(), reg::kKeyRead,
                                 &key) != 0) {
            return "<no key>";
        }
        char buffer[256];
        uint32_t size = sizeof buffer;
        uint32_t status = reg::RegistryQueryValue(key, name, type, buffer, &size);
        reg::RegistryCloseKey(key);
        return status == 0 ? std::string(buffer, size) : "<missing>";
    }

    bool KeyExists(const std::wstring& subkey) {
        reg::RegistryKeyHandle key = 0;
        if (reg::RegistryOpenKey(reg::kHkeyCurrentUser, subkey, reg::kKeyRead, &key) != 0) {
            return false;
        }
        reg::RegistryCloseKey(key);
        return true;
    }

    // A key object on the scratch key (HKEY_CURRENT_USER is the initial root).
    bool OpenScratch(CRegistryKey& key, bool create) {
        return key.Open(sandbox_.ScratchKey(), create);
    }

    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};
};

TEST_F(RegistryKeyTest, OpenCreatesOnlyWhenAsked) {
    CRegistryKey key;
    EXPECT_FALSE(OpenScratch(key, false));
    EXPECT_FALSE(KeyExists(sandbox_.ScratchKey()));
    EXPECT_TRUE(OpenScratch(key, true));
    EXPECT_TRUE(KeyExists(sandbox_.ScratchKey()));
    // A key just created holds nothing: reads give their defaults.
    EXPECT_EQ(key.ReadDword(L"Missing", 42), 42u);
    EXPECT_EQ(key.ReadString(L"Missing", L"default"), L"default");
    EXPECT_EQ(key.GetValueType(L"Missing"), 0u);
    EXPECT_TRUE(key.Open(L"", false));
}

TEST_F(RegistryKeyTest, ReadDwordTakesTheRawFourBytesOfAnyType) {
    Store(L"Number", reg::kRegDword, kx::RegDwordData(0x12345678));
    Store(L"StringOne", reg::kRegSz, kx::RegStringData(L"1"));
    Store(L"Short", reg::kRegBinary, std::string("\x07", 1));
    Store(L"Long", reg::kRegBinary, std::string(8, '\x01'));
    CRegistryKey key;
    ASSERT_TRUE(OpenScratch(key, false));
    EXPECT_EQ(key.ReadDword(L"Number", 0), 0x12345678u);
    // "1" as a string is the character code 49 and a NUL: it does not read as 1.
    EXPECT_EQ(key.ReadDword(L"StringOne", 0), 49u);
    EXPECT_EQ(key.ReadDword(L"Short", 0), 7u);
    EXPECT_EQ(key.ReadDword(L"Long", 5), 5u);  // longer than 4 bytes: the default
    EXPECT_EQ(key.ReadDword(L"Missing", 9), 9u);
}

TEST_F(RegistryKeyTest, ReadStringTakesOnlyStringTypesAsStored) {
    Store(L"Plain", reg::kRegSz, kx::RegStringData(L"server.example"));
    Store(L"Expand", reg::kRegExpandSz, kx::RegStringData(L"%COMPUTERNAME%.example"));
    Store(L"Number", reg::kRegDword, kx::RegDwordData(15601));
    Store(L"List", reg::kRegMultiSz, kx::RegMultiStringData({L"a", L"b"}));
    Store(L"Empty", reg::kRegSz, kx::RegStringData(L""));
    Store(L"Unterminated", reg::kRegSz, kx::WideToUtf16LE(L"abc"));
    Store(L"OddSize", reg::kRegSz, kx::WideToUtf16LE(L"ab") + "x");
    Store(L"Embedded", reg::kRegSz, kx::RegStringData(std::wstring(L"ab\0cd", 5)));
    CRegistryKey key;
    ASSERT_TRUE(OpenScratch(key, false));
    EXPECT_EQ(key.ReadString(L"Plain", L"d"), L"server.example");
    EXPECT_EQ(key.ReadString(L"Expand", L"d"), L"%COMPUTERNAME%.example");  // not expanded
    EXPECT_EQ(key.ReadString(L"Number", L"d"), L"d");
    EXPECT_EQ(key.ReadString(L"List", L"d"), L"d");
    EXPECT_EQ(key.ReadString(L"Empty", L"d"), L"");
    EXPECT_EQ(key.ReadString(L"Unterminated", L"d"), L"abc");
#ifndef _WIN32
    // Wine adds a terminator to such a value when it is set (Windows does not).
    EXPECT_EQ(key.ReadString(L"OddSize", L"d"), L"ab");
#endif
    EXPECT_EQ(key.ReadString(L"Embedded", L"d"), L"ab");
    EXPECT_EQ(key.GetValueType(L"Expand"), reg::kRegExpandSz);
}

TEST_F(RegistryKeyTest, WritesStoreTheTypeAndSizeGiven) {
    CRegistryKey key;
    ASSERT_TRUE(OpenScratch(key, true));
    EXPECT_TRUE(key.WriteDword(L"Number", 0xA1B2C3D4));
    EXPECT_TRUE(key.WriteString(L"Text", L"v\u00e9rsion 12"));
    EXPECT_TRUE(key.WriteString(L"Empty", L""));
    uint32_t type = 0;
    EXPECT_EQ(Stored(L"Number", &type), kx::RegDwordData(0xA1B2C3D4));
    EXPECT_EQ(type, reg::kRegDword);
    EXPECT_EQ(Stored(L"Text", &type), kx::RegStringData(L"v\u00e9rsion 12"));  // NUL included
    EXPECT_EQ(type, reg::kRegSz);
    EXPECT_EQ(Stored(L"Empty", &type), std::string(2, '\0'));
    EXPECT_EQ(key.ReadString(L"Text", L""), L"v\u00e9rsion 12");

    CRegistryKey unopened;
    EXPECT_FALSE(unopened.Open(sandbox_.ScratchKey() + L"\\Gone", false));
    reg::RegistryDeleteTree(reg::kHkeyCurrentUser, sandbox_.ScratchKey());
    EXPECT_FALSE(key.WriteDword(L"Number", 1));  // the key went away meanwhile
    EXPECT_FALSE(key.WriteString(L"Text", L"x"));
}

TEST_F(RegistryKeyTest, EnumSubkeysAppendsNamesOrAnswersMinusOne) {
    std::vector<std::wstring> names{L"kept"};
    // A key object whose key has gone: its subkey path still names it.
    CRegistryKey created;
    ASSERT_TRUE(created.Open(sandbox_.ScratchKey() + L"\\Parent", true));
    reg::RegistryDeleteTree(reg::kHkeyCurrentUser, sandbox_.ScratchKey() + L"\\Parent");
    EXPECT_EQ(created.EnumSubkeys(&names), -1);
    EXPECT_EQ(names, std::vector<std::wstring>{L"kept"});

    ASSERT_TRUE(created.Open(sandbox_.ScratchKey() + L"\\Parent\\Beta", true));
    ASSERT_TRUE(created.Open(sandbox_.ScratchKey() + L"\\Parent\\alpha", true));
    ASSERT_TRUE(created.Open(sandbox_.ScratchKey() + L"\\Parent", false));
    EXPECT_EQ(created.EnumSubkeys(&names), 2);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"kept", L"alpha", L"Beta"}));
}

TEST_F(RegistryKeyTest, SetRootAcceptsOnlyTheFourPredefinedRoots) {
    // The value lives only in HKEY_LOCAL_MACHINE, so reads show which root is used.
    CRegistryKey writer;
    ASSERT_EQ(writer.SetRoot(reg::kHkeyLocalMachine), 1);
    ASSERT_TRUE(writer.Open(L"SOFTWARE\\Brenwick Corporation\\Korvex\\Settings", true));
    ASSERT_TRUE(writer.WriteDword(L"LoggingLevel", 2));

    CRegistryKey key;
    ASSERT_EQ(key.SetRoot(reg::kHkeyLocalMachine), 1);
    EXPECT_EQ(key.SetRoot(reg::MakePredefinedRegistryKey(0x80000004)), 0);
    EXPECT_EQ(key.SetRoot(reg::MakePredefinedRegistryKey(0x80000005)), 0);
    ASSERT_TRUE(key.Open(L"SOFTWARE\\Brenwick Corporation\\Korvex\\Settings", false));
    EXPECT_EQ(key.ReadDword(L"LoggingLevel", 0), 2u);

    for (reg::RegistryKeyHandle root :
         {reg::kHkeyClassesRoot, reg::kHkeyCurrentUser, reg::kHkeyUsers, reg::kHkeyLocalMachine}) {
        EXPECT_EQ(key.SetRoot(root), 1);
    }
    // Close returns to HKEY_CURRENT_USER, where the key does not exist.
    key.Close();
    EXPECT_FALSE(key.Open(L"SOFTWARE\\Brenwick Corporation\\Korvex\\Settings", false));
}

TEST_F(RegistryKeyTest, WowViewAndLocalConnectionReadTheSameValues) {
    Store(L"Path", reg::kRegSz, kx::RegStringData(L"C:\\x.dll"));
    CRegistryKey viewed;
    viewed.UseWow64View();
    ASSERT_TRUE(OpenScratch(viewed, false));
    EXPECT_EQ(viewed.ReadString(L"Path", L""), L"C:\\x.dll");
    std::vector<std::wstring> names;
    EXPECT_EQ(viewed.EnumSubkeys(&names), 0);

    CRegistryKey local;
    ASSERT_EQ(local.Connect(L"", reg::kHkeyCurrentUser), 1);
    ASSERT_TRUE(OpenScratch(local, false));
    EXPECT_EQ(local.ReadString(L"Path", L""), L"C:\\x.dll");
    local.Close();
    local.Close();  // a second close releases nothing twice

    CRegistryKey remote;
    EXPECT_EQ(remote.Connect(L"\\\\KX-NO-SUCH-PC", reg::kHkeyLocalMachine), 0);
}

}  // namespace
