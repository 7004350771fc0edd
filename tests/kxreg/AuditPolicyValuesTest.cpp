// The Linux audit policy is a registry key that kxreg shows and changes.

#ifndef _WIN32

#include <gtest/gtest.h>

#include "RegCommand.h"
#include "RegistrySandbox.h"
#include "platform/AuditPolicy.h"
#include "service/LogonAuditing.h"

namespace {

const std::wstring kKey = L"HKLM\\SECURITY\\Policy\\Audit";

std::wstring Kxreg(std::vector<std::wstring> args) {
    CRegCommand command;
    int result = command.Run(args);
    return result == 0 ? command.Output()
                       : L"exit " + std::to_wstring(result) + L": " + command.Errors();
}

uint32_t LogonOption() {
    kx::platform::IAuditPolicy& port = kx::platform::GetAuditPolicy();
    kx::platform::PolicyHandle policy = nullptr;
    EXPECT_EQ(port.OpenPolicy(kx::platform::kPolicyAuditAccess, &policy), 0u);
    kx::platform::AuditEventsInfo* info = nullptr;
    EXPECT_EQ(port.QueryAuditEvents(policy, &info), 0u);
    uint32_t option = info ? info->eventAuditingOptions[kx::platform::kAuditCategoryLogon] : 99;
    port.FreeMemory(info);
    port.Close(policy);
    return option;
}

}  // namespace

TEST(AuditPolicyValuesTest, KxregShowsWhatTheAgentSetAndWhatItSetsTheAgentSees) {
    CRegistrySandbox sandbox;
    const std::wstring done = L"The operation completed successfully.\n";
    ASSERT_EQ(Kxreg({L"add", kKey, L"/v", L"Logon", L"/t", L"REG_DWORD", L"/d", L"2"}), done);
    EXPECT_EQ(LogonOption(), 2u);

    AdjustLogonAuditing(kx::platform::GetAuditPolicy());
    EXPECT_EQ(Kxreg({L"query", kKey}),
              L"\n" + kKey +
                  L"\n    Logon    REG_DWORD    0x2\n"  // in the order of creation
                  L"    AuditingMode    REG_DWORD    0x1\n");

    ASSERT_EQ(Kxreg({L"add", kKey, L"/v", L"Logon", L"/t", L"REG_DWORD", L"/d", L"0", L"/f"}),
              done);
    AdjustLogonAuditing(kx::platform::GetAuditPolicy());
    EXPECT_EQ(Kxreg({L"query", kKey, L"/v", L"Logon"}),
              L"\n" + kKey + L"\n    Logon    REG_DWORD    0x1\n\n");
}

#endif
