// The framework's parameter operations: values below
// HKLM\SYSTEM\CurrentControlSet\Services\<name>\Parameters\<section>.

#include <gtest/gtest.h>

#include "FakeEventLog.h"
#include "FakeServiceControl.h"
#include "RegistrySandbox.h"
#include "platform/Registry.h"
#include "service/NTService.h"

namespace platform = kx::platform;

namespace {

class CParameterService : public CNTService {
public:
    CParameterService(CFakeServiceControl& control, CFakeEventLog& log)
        : CNTService(L"KXParameterTest", L"Parameter Test", 1, L"", control, log) {}
    void Run(uint32_t, wchar_t**) override {}
};

class NTServiceParametersTest : public ::testing::Test {
protected:
    NTServiceParametersTest() {
        // Windows always has the services key; a new Linux machine does not.
        platform::RegistryKeyHandle key = 0;
        platform::RegistryCreateKey(platform::kHkeyLocalMachine,
                                    L"SYSTEM\\CurrentControlSet\\Services", platform::kKeyAllAccess,
                                    &key);
        platform::RegistryCloseKey(key);
    }

    CRegistrySandbox registry{
        {L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\KXParameterTest"}};
    CFakeServiceControl control;
    CFakeEventLog log;
    CParameterService service{control, log};
};

}  // namespace

TEST_F(NTServiceParametersTest, ValuesRoundTripAndMissingOnesGiveTheDefault) {
    const std::wstring entry = L"Name";
    const std::wstring value = L"agent";
    ASSERT_TRUE(service.WriteParameterString(L"General", &entry, &value));
    ASSERT_TRUE(service.WriteParameterInt(L"General", L"Count", 42));
    ASSERT_TRUE(service.WriteParameterStringArray(L"General", L"List", {L"a", L"bc"}));
    const uint8_t bytes[] = {1, 0, 255};
    ASSERT_TRUE(service.WriteParameterBinary(L"Raw", L"Blob", bytes, 3));

    uint32_t error = 99;
    EXPECT_EQ(service.GetParameterString(L"General", L"Name", L"x", &error), L"agent");
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(service.GetParameterInt(L"General", L"Count", 7, &error), 42u);
    std::vector<std::wstring> list;
    EXPECT_TRUE(service.GetParameterStringArray(L"General", L"List", &list));
    EXPECT_EQ(list, (std::vector<std::wstring>{L"a", L"bc"}));
    std::vector<uint8_t> blob;
    EXPECT_TRUE(service.GetParameterBinary(L"Raw", L"Blob", &blob));
    EXPECT_EQ(blob, (std::vector<uint8_t>{1, 0, 255}));

    EXPECT_EQ(service.GetParameterString(L"General", L"Missing", L"fallback", &error), L"fallback");
    EXPECT_EQ(error, 2u);
    EXPECT_EQ(service.GetParameterInt(L"General", L"Name", 7, &error), 7u);  // not a DWORD
    EXPECT_NE(error, 0u);
}

TEST_F(NTServiceParametersTest, AMissingValueDeletesTheEntryAndAMissingEntryTheSection) {
    const std::wstring entry = L"Name";
    const std::wstring value = L"agent";
    ASSERT_TRUE(service.WriteParameterString(L"General", &entry, &value));
    ASSERT_TRUE(service.WriteParameterString(L"General", &entry, nullptr));
    uint32_t error = 0;
    EXPECT_EQ(service.GetParameterString(L"General", L"Name", L"gone", &error), L"gone");
    ASSERT_TRUE(service.WriteParameterInt(L"General", L"Count", 1));
    ASSERT_TRUE(service.WriteParameterString(L"General", nullptr, nullptr));
    platform::RegistryKeyHandle key = 0;
    EXPECT_EQ(platform::RegistryOpenKey(
                  platform::kHkeyLocalMachine,
                  L"SYSTEM\\CurrentControlSet\\Services\\KXParameterTest\\Parameters\\General",
                  platform::kKeyRead, &key),
              2u);
}
