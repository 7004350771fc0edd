// Delivery to the reference server of this test executable: cache files
// posted as alert documents, the answers that delete a file and those that
// keep it, a changed server setting, and a whole alert log with its workers
// running on the real clock.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "AlertLogTestSupport.h"
#include "BaseClasses/LogData.h"
#include "ReferenceServer.h"
#include "RegistrySandbox.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "config/RegistryKey.h"
#include "config/Settings.h"
#include "http/HttpRequest.h"
#include "platform/Process.h"

namespace {

const std::string kConnectionMessage = "Unable to connect to the Korvex Foundation service.";

// What the server's XML parser makes of a text: line ends as line feeds,
// characters XML forbids as the writer's U+FFFD.
std::string AsParsed(const std::wstring& text) {
    std::wstring result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
        result += text[i] == L'\x01' ? L'\uFFFD' : text[i];
    }
    return kx::WideToUtf8(result);
}

std::string JsonText(const std::wstring& text) {
    std::string out = "\"";
    for (char c : AsParsed(text)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string PropertiesJson(const CXMLAlertLogItem& item) {
    std::string out = "[";
    for (const auto& property : item.Properties) {
        if (out.size() > 1) out += ", ";
        out +=
            "[" + JsonText(property->PropertyCode) + ", " + JsonText(property->PropertyValue) + "]";
    }
    return out + "]";
}

class AlertLogDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Available()) << CReferenceServer::kNotAvailable;
        kx::platform::HttpTimeouts timeouts{0, 5000, 2000, 2000};
        SetHttpTimeoutsForTesting(&timeouts);
        kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe"));
        PointPolicyAt(server_.Host(), server_.Port());
        ASSERT_TRUE(server_.ClearFault());
        alertMark_ = server_.LastAlertId();
        InitDiagnosticLog(kLogInformation);
        log_ = std::make_unique<CTestAlertLog>();
    }
    void TearDown() override {
        log_.reset();
        CloseDiagnosticLog();
        server_.ClearFault();
        SetHttpTimeoutsForTesting(nullptr);
        kx::platform::SetExecutablePathForTesting(L"");
    }

    void PointPolicyAt(const std::wstring& server, const std::wstring& port) {
        CRegistryKey key;
        key.SetRoot(kx::platform::kHkeyLocalMachine);
        ASSERT_TRUE(key.Open(kPolicySettingsKey, true));
        ASSERT_TRUE(key.WriteString(L"KFSServer", server));
        ASSERT_TRUE(key.WriteString(L"KFSPort", port));
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

    CReferenceServer server_;
    CTempDirectory folder_;
    CRegistrySandbox sandbox_{CRegistrySandbox::SettingsKeys()};
    std::unique_ptr<CTestAlertLog> log_;
    int64_t alertMark_ = 0;
};

TEST_F(AlertLogDeliveryTest, StoredAlertsEqualTheItemsFieldForField) {
    const int64_t documents = server_.LastDocumentId();
    for (auto& item : GoldenItems()) log_->AddItem(std::move(item));
    log_->FlushToCache();
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    auto stored = server_.Documents(documents);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["content_type"], "image/jpeg");
    EXPECT_EQ(stored[0]["body"], ReadFileBytes(GoldenFile("golden.xml")));
    auto alerts = server_.Alerts(alertMark_);
    const auto items = GoldenItems();
    ASSERT_EQ(alerts.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const CXMLAlertLogItem& item = *items[i];
        auto& alert = alerts[i];
        EXPECT_EQ(alert["TimeGenerated"],
                  kx::WideToUtf8(CXMLAlertLogItem::RenderTimeGenerated(item.TimeGenerated)));
        EXPECT_EQ(alert["ComputerDomain"], AsParsed(item.ComputerDomain));
        EXPECT_EQ(alert["ComputerName"], AsParsed(item.ComputerName));
        EXPECT_EQ(alert["AccountName"], AsParsed(item.AccountName));
        EXPECT_EQ(alert["AccountSID"], AsParsed(item.AccountSID));
        EXPECT_EQ(alert["EventDefinitionCode"], AsParsed(item.EventDefinitionCode));
        EXPECT_EQ(alert["ActionText"], AsParsed(item.ActionText));
        EXPECT_EQ(alert["EventDump"], AsParsed(item.EventDump));
        EXPECT_EQ(alert["properties"], PropertiesJson(item)) << "item " << i;
    }
}

TEST_F(AlertLogDeliveryTest, AnAnswerDeletesTheFileFiveHundredIncluded) {
    WriteCacheFile(1);
    ASSERT_TRUE(server_.SetFault(L"500"));
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), kConnectionMessage), 0);
}

TEST_F(AlertLogDeliveryTest, GatewayErrorsKeepTheFileForTheNextSweep) {
    WriteCacheFile(2);
    for (const wchar_t* status : {L"502", L"503", L"504"}) {
        ASSERT_TRUE(server_.SetFault(status));
        log_->SendCacheFiles();
        EXPECT_EQ(CacheFileCount(), 1u) << kx::WideToUtf8(status);
    }
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), kConnectionMessage), 3);
    ASSERT_TRUE(server_.ClearFault());
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(NewActionTexts(), Expected(2));
}

// A redirection is not the service's answer: followed, the post would become
// a GET that any page answers (or a post to wherever the answer points), and
// the file would be deleted unsent.
TEST_F(AlertLogDeliveryTest, ARedirectedPostKeepsTheFile) {
    WriteCacheFile(1);
    for (uint32_t status : {301u, 302u, 303u, 307u, 308u}) {
        ASSERT_TRUE(server_.SetRedirect(status, L"/Sample?body=moved", L"/EventPost"));
        log_->SendCacheFiles();
        EXPECT_EQ(CacheFileCount(), 1u) << status;
    }
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), kConnectionMessage), 5);
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(),
                                   "with a redirection (status 307, to "
                                   "/Sample?body=moved)"),
              1);
    ASSERT_TRUE(server_.ClearFault());
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(NewActionTexts(), Expected(1));
}

TEST_F(AlertLogDeliveryTest, ServerDownKeepsEveryFileAndDeliversThemInOrderOnceBack) {
    for (int file = 0; file < 5; ++file) WriteCacheFile(2, 2 * file);
    ASSERT_EQ(CacheFileCount(), 5u);
    ASSERT_TRUE(server_.SetFault(L"refuse"));
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 5u);
    EXPECT_EQ(CountInDiagnosticLog(folder_.Path(), kConnectionMessage), 5);
    ASSERT_TRUE(server_.ClearFault());
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(NewActionTexts(), Expected(10));
}

TEST_F(AlertLogDeliveryTest, ChangedServerSettingTakesEffectAtTheNextPost) {
    WriteCacheFile(1);
    PointPolicyAt(L"127.0.0.1", L"1");  // nothing listens there
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 1u);
    PointPolicyAt(server_.Host(), server_.Port());
    log_->SendCacheFiles();
    EXPECT_EQ(CacheFileCount(), 0u);
    EXPECT_EQ(NewActionTexts(), Expected(1));
}

TEST_F(AlertLogDeliveryTest, AlertsQueuedAtDestructionAreSentByTheNextRun) {
    {
        CXMLAlertLog running;  // workers started; destroyed before its first flush
        for (int i = 0; i < 3; ++i) running.AddItem(MakeItem(L"alert " + std::to_wstring(i)));
    }
    EXPECT_EQ(CacheFileCount(), 1u);
    log_->SendCacheFiles();
    EXPECT_EQ(NewActionTexts(), Expected(3));
}

// The alert log as the agent runs it: the flush after 5 seconds, the first
// sweep about 9 seconds after the start.
TEST_F(AlertLogDeliveryTest, RunningAlertLogDeliversWithinItsIntervals) {
    std::vector<std::string> texts;
    {
        CXMLAlertLog running;
        for (int i = 0; i < 3; ++i) running.AddItem(MakeItem(L"alert " + std::to_wstring(i)));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        while (texts.size() < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            for (auto& text : NewActionTexts()) texts.push_back(text);
        }
    }
    EXPECT_EQ(texts, Expected(3));
    EXPECT_EQ(CacheFileCount(), 0u);
}

}  // namespace
