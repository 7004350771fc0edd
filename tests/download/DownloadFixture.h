#pragma once
// A machine of the test's own (registry sandbox, executable folder) whose
// policy points the agent at the test's reference server.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ReferenceServer.h"
#include "RegistrySandbox.h"
#include "TempDirectory.h"

class DownloadFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Paths of the requests the server received since the last call.
    std::vector<std::string> NewRequestPaths();
    void PointPolicyAt(const std::wstring& server, const std::wstring& port);

    CReferenceServer server_;
    CTempDirectory folder_;
    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};

private:
    int64_t requestMark_ = 0;
};
