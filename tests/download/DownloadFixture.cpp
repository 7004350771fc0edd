#include "DownloadFixture.h"

#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "platform/Process.h"

void DownloadFixture::SetUp() {
    ASSERT_TRUE(server_.Available()) << CReferenceServer::kNotAvailable;
    kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
    PointPolicyAt(server_.Host(), server_.Port());
    server_.ClearFault();
    requestMark_ = server_.LastRequestId();
}

void DownloadFixture::TearDown() {
    server_.ClearFault();
    kx::platform::SetExecutablePathForTesting(L"");
}

std::vector<std::string> DownloadFixture::NewRequestPaths() {
    std::vector<std::string> paths;
    for (const auto& row : server_.Requests(requestMark_)) paths.push_back(row.at("path"));
    requestMark_ = server_.LastRequestId();
    return paths;
}

void DownloadFixture::PointPolicyAt(const std::wstring& server, const std::wstring& port) {
    CRegistryKey key;
    key.SetRoot(kx::platform::kHkeyLocalMachine);
    ASSERT_TRUE(key.Open(kPolicySettingsKey, true));
    ASSERT_TRUE(key.WriteString(L"KFSServer", server));
    ASSERT_TRUE(key.WriteString(L"KFSPort", port));
}
