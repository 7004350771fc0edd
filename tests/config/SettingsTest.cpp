#include "config/Settings.h"

#include <gtest/gtest.h>

#include "RegistrySandbox.h"
#include "common/RegFile.h"
#include "platform/Registry.h"

namespace reg = kx::platform;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void Store(const wchar_t* subkey, const std::wstring& name, uint32_t type,
               const std::string& data) {
        reg::RegistryKeyHandle key = 0;
        ASSERT_EQ(reg::RegistryCreateKey(reg::kHkeyLocalMachine, subkey, reg::kKeyAllAccess, &key),
                  0u);
        ASSERT_EQ(
            reg::RegistrySetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())),
            0u);
        reg::RegistryCloseKey(key);
    }

    std::string Stored(const wchar_t* subkey, const std::wstring& name, uint32_t* type) {
        reg::RegistryKeyHandle key = 0;
        if (reg::RegistryOpenKey(reg::kHkeyLocalMachine, subkey, reg::kKeyRead, &key) != 0) {
            return "<no key>";
        }
        char buffer[64];
        uint32_t size = sizeof buffer;
        uint32_t status = reg::RegistryQueryValue(key, name, type, buffer, &size);
        reg::RegistryCloseKey(key);
        return status == 0 ? std::string(buffer, size) : "<missing>";
    }

    bool KeyExists(const wchar_t* subkey) {
        reg::RegistryKeyHandle key = 0;
        if (reg::RegistryOpenKey(reg::kHkeyLocalMachine, subkey, reg::kKeyRead, &key) != 0) {
            return false;
        }
        reg::RegistryCloseKey(key);
        return true;
    }

    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};
};

TEST_F(SettingsTest, DefaultsOnAFreshMachineAndBothKeysCreated) {
    ASSERT_FALSE(KeyExists(kPolicySettingsKey));
    ASSERT_FALSE(KeyExists(kProductSettingsKey));
    EXPECT_EQ(GetKFSServer(), L"localhost");
    EXPECT_EQ(GetKFSPort(), L"15601");
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 0u);
    EXPECT_EQ(GetLoggingLevel(), 3u);
    EXPECT_EQ(GetLastEventLogRecordNumber(), 0u);
    EXPECT_EQ(GetEDVersion(), L"");
    EXPECT_EQ(GetKFSUseHttps(), 0u);  // plain HTTP, as before the switch existed
    EXPECT_EQ(GetKFSCACertificates(), L"");
    EXPECT_TRUE(KeyExists(kPolicySettingsKey));
    EXPECT_TRUE(KeyExists(kProductSettingsKey));
    uint32_t type = 0;
    EXPECT_EQ(Stored(kPolicySettingsKey, L"KFSServer", &type), "<missing>");
}

TEST_F(SettingsTest, PolicyValuesAreReadAnewAtEveryCall) {
    Store(kPolicySettingsKey, L"KFSServer", reg::kRegSz, kx::RegStringData(L"kfs.example.com"));
    Store(kPolicySettingsKey, L"KFSPort", reg::kRegSz, kx::RegStringData(L"8080"));
    Store(kPolicySettingsKey, L"EnableWorkstationAuditAgent", reg::kRegDword, kx::RegDwordData(1));
    EXPECT_EQ(GetKFSServer(), L"kfs.example.com");
    EXPECT_EQ(GetKFSPort(), L"8080");
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 1u);
    Store(kPolicySettingsKey, L"EnableWorkstationAuditAgent", reg::kRegDword, kx::RegDwordData(0));
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 0u);
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeAreNotTakenAsMeant) {
    // A port stored as a number is ignored; "1" stored as a string is 49, not 1.
    Store(kPolicySettingsKey, L"KFSPort", reg::kRegDword, kx::RegDwordData(15602));
    Store(kPolicySettingsKey, L"EnableWorkstationAuditAgent", reg::kRegSz, kx::RegStringData(L"1"));
    Store(kPolicySettingsKey, L"KFSServer", reg::kRegExpandSz,
          kx::RegStringData(L"%COMPUTERNAME%.example.com"));
    EXPECT_EQ(GetKFSPort(), L"15601");
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 49u);
    EXPECT_EQ(GetKFSServer(), L"%COMPUTERNAME%.example.com");
}

TEST_F(SettingsTest, EachValueIsReadFromItsOwnKeyOnly) {
    Store(kProductSettingsKey, L"KFSServer", reg::kRegSz, kx::RegStringData(L"product.example"));
    Store(kProductSettingsKey, L"EnableWorkstationAuditAgent", reg::kRegDword, kx::RegDwordData(1));
    Store(kPolicySettingsKey, L"LoggingLevel", reg::kRegDword, kx::RegDwordData(0));
    Store(kPolicySettingsKey, L"EDVersion", reg::kRegSz, kx::RegStringData(L"9"));
    EXPECT_EQ(GetKFSServer(), L"localhost");
    EXPECT_EQ(GetEnableWorkstationAuditAgent(), 0u);
    EXPECT_EQ(GetLoggingLevel(), 3u);
    EXPECT_EQ(GetEDVersion(), L"");
}

TEST_F(SettingsTest, RecordNumberAndDefinitionsVersionAreWrittenAndReadBack) {
    SetLastEventLogRecordNumber(0xFFFFFFF0);
    SetEDVersion(L"12");
    EXPECT_EQ(GetLastEventLogRecordNumber(), 0xFFFFFFF0u);
    EXPECT_EQ(GetEDVersion(), L"12");
    uint32_t type = 0;
    EXPECT_EQ(Stored(kProductSettingsKey, L"WSLastEventLogRecordNumber", &type),
              kx::RegDwordData(0xFFFFFFF0));
    EXPECT_EQ(type, reg::kRegDword);
    EXPECT_EQ(Stored(kProductSettingsKey, L"EDVersion", &type), kx::RegStringData(L"12"));
    EXPECT_EQ(type, reg::kRegSz);

    // An empty version is a version, not a missing one.
    Store(kProductSettingsKey, L"LoggingLevel", reg::kRegDword, kx::RegDwordData(1));
    Store(kProductSettingsKey, L"EDVersion", reg::kRegExpandSz, kx::RegStringData(L""));
    EXPECT_EQ(GetEDVersion(), L"");
    EXPECT_EQ(GetLoggingLevel(), 1u);
}

}  // namespace
