// The channel to the Korvex Foundation service over HTTPS, against a
// reference server of this test executable that speaks only HTTPS, with
// certificates of a test CA made for this run: every endpoint goes over it
// when the policy says so, and a certificate that is refused (another CA,
// another name, out of date, no trusted root at all) delivers nothing, keeps
// the cache file and logs why.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "AlertLogTestSupport.h"
#include "BaseClasses/LogData.h"
#include "ReferenceServer.h"
#include "RegistrySandbox.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "http/HttpRequest.h"
#include "platform/Process.h"

namespace {

const std::string kConnectionMessage = "Unable to connect to the Korvex Foundation service.";

const std::string kDefinitions =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><EventDefinitionsResponse>"
    "<Success>true</Success><EventDefinitions><EventDefinition><EventDefinitionCode>D4720"
    "</EventDefinitionCode><LogName>Security</LogName><EventCode>4720</EventCode>"
    "<IsEnabled>true</IsEnabled></EventDefinition></EventDefinitions>"
    "</EventDefinitionsResponse>";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A file of the test's certificates as the server (on the host) opens it.
std::string ServerFile(const std::string& name) {
    return Environment("KX_TEST_CERTIFICATES") + "/" + name;
}

// The same file as the agent opens it (under Wine through drive Z:).
std::wstring AgentFile(const std::string& name) {
#ifdef _WIN32
    std::wstring path = L"Z:" + kx::Utf8ToWide(ServerFile(name));
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
#else
    return kx::Utf8ToWide(ServerFile(name));
#endif
}

class HttpsDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Available()) << CReferenceServer::kNotAvailable;
        ASSERT_FALSE(Environment("KX_TEST_CERTIFICATES").empty());
        kx::platform::HttpTimeouts timeouts{0, 5000, 2000, 2000};
        SetHttpTimeoutsForTesting(&timeouts);
        kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
        ASSERT_TRUE(server_.ClearFault());
        ASSERT_TRUE(server_.SetCertificate(ServerFile("server.pem"), ServerFile("server.key")));
        SetPolicy(L"KFSServer", server_.Host());
        SetPolicy(L"KFSPort", server_.Port());
        SetPolicy(L"KFSUseHttps", 1);
        SetPolicy(L"KFSCACertificates", AgentFile("ca.pem"));
        alertMark_ = server_.LastAlertId();
        InitDiagnosticLog(kLogInformation);
        log_ = std::make_unique<CTestAlertLog>();
    }
    void TearDown() override {
        log_.reset();
        CloseDiagnosticLog();
        server_.SetCertificate(ServerFile("server.pem"), ServerFile("server.key"));
        SetHttpTimeoutsForTesting(nullptr);
        kx::platform::SetExecutablePathForTesting(L"");
    }

    static void SetPolicy(const wchar_t* name, const std::wstring& value) {
        CRegistryKey key;
        key.SetRoot(kx::platform::kHkeyLocalMachine);
        ASSERT_TRUE(key.Open(kPolicySettingsKey, true));
        ASSERT_TRUE(key.WriteString(name, value));
    }
    static void SetPolicy(const wchar_t* name, uint32_t value) {
        CRegistryKey key;
        key.SetRoot(kx::platform::kHkeyLocalMachine);
        ASSERT_TRUE(key.Open(kPolicySettingsKey, true));
        ASSERT_TRUE(key.WriteDword(name, value));
    }
    void ShowCertificate(const std::string& file) {
        ASSERT_TRUE(server_.SetCertificate(ServerFile(file), ServerFile("server.key")));
    }

    std::wstring HttpsUrl(const std::wstring& pathAndQuery) const {
        return L"https://" + server_.Host() + L":" + server_.Port() + pathAndQuery;
    }
    // The start of the line that tells why a request to the path was refused.
    std::string RefusalLine(const std::string& path) const {
        return "The Korvex Foundation service at " + kx::WideToUtf8(HttpsUrl(L"")) + path +
               " is not trusted: ";
    }

    void WriteCacheFile(int count, int first = 0) {
        for (int i = first; i < first + count; ++i)
            log_->AddItem(MakeItem(L"alert " + std::to_wstring(i)));
        log_->FlushToCache();
    }
    std::vector<std::string> NewActionTexts() {
        std::vector<std::string> texts;
        for (auto& row : server_.Alerts(alertMark_)) texts.push_back(row["ActionText"]);
        alertMark_ = server_.LastAlertId();
        return texts;
    }
    static std::vector<std::string> Expected(int count, int first = 0) {
        std::vector<std::string> texts;
        for (int i = first; i < first + count; ++i) texts.push_back("alert " + std::to_string(i));
        return texts;
    }
    std::size_t CacheFileCount() const { return CacheFilesIn(folder_.Path()).size(); }
    int CountInLog(const std::string& text) const {
        return CountInDiagnosticLog(folder_.Path(), text);
    }

    CReferenceServer server_;
    CTempDirectory folder_;
    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};
    std::unique_ptr<CTestAlertLog> log_;
    int64_t alertMark_ = 0;
};

}  // namespace

// The server's port speaks only HTTPS: each answer shows that the endpoint
// went over it.
TEST_F(HttpsDeliveryTest, EveryEndpointGoesOverHttpsToAServerTheCaVouchesFor) {
    ASSERT_TRUE(server_.SetConfigValue(L"EDVersionNumber", L"7"));
    ASSERT_TRUE(server_.SetDefinitions(kDefinitions));
    EXPECT_EQ(GetConfigValue(L"EDVersionNumber"), L"7");
    {
        CWorkstationEventDefinitions definitions;
        EXPECT_TRUE(definitions.IsCandidateEvent(4720));
    }
    EXPECT_EQ(GetEDVersion(), L"7");
    WriteCacheFile(2);
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(NewActionTexts(), Expected(2));

    // The value may hold the PEM text itself instead of a file's path.
    SetPolicy(L"KFSCACertificates", kx::Utf8ToWide(ReadFileBytes(ServerFile("ca.pem"))));
    WriteCacheFile(1, 2);
    log_->SendCacheFiles();
    EXPECT_EQ(NewActionTexts(), Expected(1, 2));

    // Without the switch the agent speaks plain HTTP, which this port does not.
    SetPolicy(L"KFSUseHttps", 0);
    EXPECT_EQ(GetConfigValue(L"EDVersionNumber"), L"");
}

TEST_F(HttpsDeliveryTest, ARefusedCertificateDeliversNothingKeepsTheFileAndSaysWhy) {
    struct Case {
        const char* certificate;
        const char* reason;
    } cases[] = {
        {"other-ca-server.pem",
         "its certificate is not from a trusted certificate authority (error 12045)."},
        {"wrong-name.pem", "its certificate is for another name (error 12038)."},
        {"expired.pem", "its certificate has expired or is not yet valid (error 12037)."},
    };
    ASSERT_TRUE(server_.SetConfigValue(L"EDVersionNumber", L"7"));
    ASSERT_TRUE(server_.SetDefinitions(kDefinitions));
    WriteCacheFile(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificate);
        ShowCertificate(c.certificate);
        log_->SendCacheFiles();
        EXPECT_EQ(CacheFileCount(), 1u);
        // Nor is anything taken from such a server.
        EXPECT_EQ(GetConfigValue(L"EDVersionNumber"), L"");
        CWorkstationEventDefinitions definitions;
        EXPECT_FALSE(definitions.IsCandidateEvent(4720));
    }
    for (const Case& c : cases) {
        EXPECT_EQ(CountInLog(RefusalLine("/EventPost") + c.reason), 1) << c.certificate;
    }
    EXPECT_EQ(CountInLog(RefusalLine("/GetConfigValue?Name=EDVersionNumber")), 6);
    EXPECT_EQ(CountInLog(kConnectionMessage), 3);

    // The system's own roots do not hold the test CA; they tell why in their
    // own way (Wine's WinHTTP says only that the handshake failed).
    InitDiagnosticLog(kLogInformation);
    ShowCertificate("server.pem");
    SetPolicy(L"KFSCACertificates", L"");
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 1u);
    EXPECT_TRUE(NewActionTexts().empty());
    EXPECT_EQ(GetEDVersion(), L"");

    SetPolicy(L"KFSCACertificates", AgentFile("ca.pem"));
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(NewActionTexts(), Expected(1));
    EXPECT_EQ(CountInLog(RefusalLine("/EventPost")), 1);
}

// Authorities that cannot be read are never replaced by the system's roots:
// nothing is sent at all.
TEST_F(HttpsDeliveryTest, CertificateAuthoritiesThatCannotBeUsedSendNothing) {
    WriteCacheFile(1);
    const int64_t requests = server_.LastRequestId();
    SetPolicy(L"KFSCACertificates", AgentFile("missing.pem"));
    log_->SendCacheFiles();
    SetPolicy(L"KFSCACertificates", AgentFile("server.key"));  // a key, no certificate
    log_->SendCacheFiles();
    SetPolicy(L"KFSCACertificates", L"-----BEGIN CERTIFICATE-----\nbroken\n");
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 1u);
    EXPECT_TRUE(server_.Requests(requests).empty());
    const std::string nothingSent =
        "; nothing was sent to " + kx::WideToUtf8(HttpsUrl(L"/EventPost")) + ".";
    EXPECT_EQ(CountInLog(kx::WideToUtf8(AgentFile("missing.pem")) +
                         ") cannot be used: the file cannot be read (error 2)" + nothingSent),
              1);
    EXPECT_EQ(CountInLog(kx::WideToUtf8(AgentFile("server.key")) +
                         ") cannot be used: they hold no certificate that can be read (error 11)" +
                         nothingSent),
              1);
    EXPECT_EQ(CountInLog("(PEM text) cannot be used: they hold no certificate that can be read "
                         "(error 11)" +
                         nothingSent),
              1);
}

// A redirection over HTTPS may move the request on the same server, never
// to plain HTTP (here the server's control port, which would answer).
TEST_F(HttpsDeliveryTest, ARedirectionNeverLeavesHttps) {
    const std::string authority = ReadFileBytes(ServerFile("ca.pem"));
    CHttpRequest moved(HttpsUrl(L"/Sample?status=302&header=" +
                                EncodeQueryValue(L"Location: /Sample?body=moved")));
    moved.SetTrustedCertificates(authority);
    ASSERT_TRUE(moved.SendRequest(L"GET", false)) << moved.GetLastErrorCode();
    EXPECT_EQ(moved.GetResponseText(), L"moved");

    const std::wstring plain =
        L"http://" + kx::Utf8ToWide(Environment("KX_REFSERVER_CONTROL")) + L"/control/status";
    CHttpRequest down(
        HttpsUrl(L"/Sample?status=302&header=" + EncodeQueryValue(L"Location: " + plain)));
    down.SetTrustedCertificates(authority);
    EXPECT_FALSE(down.SendRequest(L"GET", false));
    EXPECT_EQ(down.GetResponseText().find(L"\"service\""), std::wstring::npos);
}
