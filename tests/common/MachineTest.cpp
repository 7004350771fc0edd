#include <gtest/gtest.h>

#include "common/Text.h"
#include "platform/ComputerName.h"
#include "platform/MachineRoot.h"

TEST(MachineTest, ComputerNameIsANetBiosName) {
    std::wstring name = kx::platform::GetLocalComputerName();
    ASSERT_FALSE(name.empty());
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(name.find(L'.'), std::wstring::npos);
    EXPECT_EQ(name, kx::ToUpper(name));
}

#ifndef _WIN32
TEST(MachineTest, MachineRootCanBeChosenPerTest) {
    kx::platform::SetMachineRootForTesting(L"/tmp/some-machine");
    EXPECT_EQ(kx::platform::GetMachineRoot(), L"/tmp/some-machine");
    kx::platform::SetMachineRootForTesting(L"");
    EXPECT_NE(kx::platform::GetMachineRoot(), L"/tmp/some-machine");
    EXPECT_FALSE(kx::platform::GetMachineRoot().empty());
}
#endif
