// CHttpRequest over the platform's real transport (libcurl on Linux, WinHTTP
// under Wine) against the reference server of this test executable.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "ReferenceServer.h"
#include "common/Text.h"
#include "http/HttpRequest.h"
#include "platform/CodePage.h"

namespace {

class HttpRequestServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server_.Available()) GTEST_SKIP() << CReferenceServer::kNotAvailable;
        // A slow or stalling server costs seconds instead of minutes.
        kx::platform::HttpTimeouts timeouts{0, 5000, 1000, 1000};
        SetHttpTimeoutsForTesting(&timeouts);
        ASSERT_TRUE(server_.ClearFault());
        mark_ = server_.LastRequestId();
        ASSERT_GE(mark_, 0);
    }
    void TearDown() override {
        SetHttpTimeoutsForTesting(nullptr);
        if (server_.Available()) server_.ClearFault();
    }

    std::wstring SampleUrl(const std::string& body, const std::wstring& type,
                           const std::wstring& extra = L"") const {
        return server_.Url(L"/Sample?type=" + EncodeQueryValue(type) + L"&body=" +
                           EncodeQueryBytes(body) + extra);
    }

    std::vector<CReferenceServer::Row> NewRequests() const { return server_.Requests(mark_); }

    static std::string AlertDocument() {
        std::wstring text =
            L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Korvex>\r\n"
            L"  <WorkstationEvents>\r\n    <WorkstationEvent>\r\n"
            L"      <TimeGenerated>2024-03-01 09:15:00</TimeGenerated>\r\n"
            L"      <ComputerDomain>corp.example</ComputerDomain>\r\n"
            L"      <ComputerName>WS-\u00c5SA</ComputerName>\r\n"
            L"      <AccountName>CORP\\j\u00fcrgen</AccountName>\r\n"
            L"      <AccountSID>S-1-5-21-1-2-3-1001</AccountSID>\r\n"
            L"      <EventDefinitionCode>LOGON</EventDefinitionCode>\r\n"
            L"      <ActionText>User logged on &amp; off</ActionText>\r\n"
            L"      <EventDump>&lt;![CDATA[An account was successfully logged on.]]&gt;"
            L"</EventDump>\r\n"
            L"      <EventProperties>\r\n        <EventProperty>\r\n"
            L"          <PropertyCode>LogonType</PropertyCode>\r\n"
            L"          <PropertyValue>2</PropertyValue>\r\n"
            L"        </EventProperty>\r\n      </EventProperties>\r\n"
            L"    </WorkstationEvent>\r\n  </WorkstationEvents>\r\n</Korvex>";
        return kx::WideToUtf16LE(text);
    }

    // Posts the way the agent's event post does.
    bool Post(CHttpRequest& request, const std::string& body) {
        request.SetRequestHeaders(L"Content-Length: " + std::to_wstring(body.size()) +
                                  L"\r\nContent-Type: image/jpeg\r\n");
        request.SetRequestBody(body.data(), static_cast<uint32_t>(body.size()));
        return request.SendRequest(L"POST", false);
    }

    CReferenceServer server_;
    int64_t mark_ = 0;
};

}  // namespace

TEST_F(HttpRequestServerTest, GetWithAUtf8Body) {
    CHttpRequest request(
        SampleUrl("Gr\xC3\xBC\xC3\x9F"
                  "e \xE2\x82\xAC",
                  L"text/xml; charset=UTF-8"));
    ASSERT_TRUE(request.SendRequest(L"GET", false)) << request.GetLastErrorCode();
    EXPECT_EQ(request.GetResponseText(), L"Gr\u00fc\u00dfe \u20ac");
    std::wstring headers = request.GetResponseHeaders();
    EXPECT_EQ(headers.rfind(L"HTTP/1.1 200 OK\r\n", 0), 0u) << kx::WideToUtf8(headers);
    EXPECT_NE(headers.find(L"Content-Type: text/xml; charset=UTF-8\r\n"), std::wstring::npos);

    // On the wire: the client's user agent, and no header WinHTTP would not send.
    auto requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& sent = requests[0]["headers"];
    EXPECT_NE(sent.find("User-Agent: TalmorKXClient\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("Accept:"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("Expect:"), std::string::npos) << sent;
    EXPECT_EQ(requests[0]["method"], "GET");
}

TEST_F(HttpRequestServerTest, GetWithAnAnsiBody) {
    const std::string bytes = "caf\xC3\xA9 \xE9t\xE9";  // not valid UTF-8 as a whole
    CHttpRequest request(SampleUrl(bytes, L"text/plain; charset=ISO-8859-1"));
    ASSERT_TRUE(request.SendRequest(L"GET", false)) << request.GetLastErrorCode();
    EXPECT_EQ(request.GetResponseText(), kx::platform::AnsiToWide(bytes));
    CHttpRequest unnamed(SampleUrl(bytes, L"text/plain"));
    ASSERT_TRUE(unnamed.SendRequest(L"get", false));
    EXPECT_EQ(unnamed.GetResponseText(), kx::platform::AnsiToWide(bytes));
}

TEST_F(HttpRequestServerTest, ConfigurationValueCarriesItsMarkers) {
    ASSERT_TRUE(server_.SetConfigValue(L"EDVersionNumber", L"12"));
    CHttpRequest request(server_.Url(L"/GetConfigValue?Name=EDVersionNumber"));
    ASSERT_TRUE(request.SendRequest(L"GET", false));
    std::wstring text = request.GetResponseText();
    std::size_t success = text.find(L"<Success>true</Success>");
    ASSERT_NE(success, std::wstring::npos) << kx::WideToUtf8(text);
    EXPECT_GT(success, 0u);
    EXPECT_NE(text.find(L"<ConfigValue>12</ConfigValue>"), std::wstring::npos);
}

TEST_F(HttpRequestServerTest, PostOfAUtf16AlertDocumentIsStoredExactly) {
    int64_t documents = server_.LastDocumentId();
    int64_t alerts = server_.LastAlertId();
    const std::string body = AlertDocument();
    CHttpRequest request(server_.Url(L"/EventPost"));
    ASSERT_TRUE(Post(request, body)) << request.GetLastErrorCode();
    EXPECT_NE(request.GetResponseText().find(L"<Success>true</Success>"), std::wstring::npos);

    auto stored = server_.Documents(documents);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["body"], body);
    EXPECT_EQ(stored[0]["content_type"], "image/jpeg");
    EXPECT_EQ(stored[0]["content_length"], std::to_string(body.size()));
    EXPECT_EQ(stored[0]["parse_error"], "");
    auto parsed = server_.Alerts(alerts);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["ComputerName"], "WS-\xC3\x85SA");
    EXPECT_EQ(parsed[0]["AccountName"], "CORP\\j\xC3\xBCrgen");
    EXPECT_EQ(parsed[0]["ActionText"], "User logged on & off");
    EXPECT_EQ(parsed[0]["EventDump"], "An account was successfully logged on.");
    EXPECT_EQ(parsed[0]["properties"], "[[\"LogonType\", \"2\"]]");

    auto requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0]["headers"].find("Content-Length: " + std::to_string(body.size()) + "\n"),
              std::string::npos);
    EXPECT_NE(requests[0]["headers"].find("Content-Type: image/jpeg\n"), std::string::npos);
}

TEST_F(HttpRequestServerTest, StatusFiveHundredCountsAsReceived) {
    ASSERT_TRUE(server_.SetFault(L"500"));
    CHttpRequest post(server_.Url(L"/EventPost"));
    EXPECT_TRUE(Post(post, AlertDocument()));
    CHttpRequest get(server_.Url(L"/GetConfigValue?Name=EDVersionNumber"));
    EXPECT_TRUE(get.SendRequest(L"GET", false));
    EXPECT_EQ(get.GetResponseText().find(L"<Success>"), std::wstring::npos);
    EXPECT_NE(get.GetResponseHeaders().find(L" 500 "), std::wstring::npos);
    EXPECT_EQ(NewRequests().size(), 2u);
}

// Every way the server can fail: three attempts, then error 3.
TEST_F(HttpRequestServerTest, EachFaultModeIsTriedThreeTimes) {
    struct Case {
        const wchar_t* mode;
        uint32_t delay;
        std::size_t requestsSeen;
    } cases[] = {
        {L"refuse", 0, 0},   {L"drop", 0, 3}, {L"slow", 3000, 3},
        {L"stall", 3000, 3}, {L"html", 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kx::WideToUtf8(c.mode));
        int64_t mark = server_.LastRequestId();
        ASSERT_TRUE(server_.SetFault(c.mode, c.delay));
        CHttpRequest request(server_.Url(L"/EventDefinitions/6.1"));
        EXPECT_FALSE(request.SendRequest(L"GET", false));
        EXPECT_EQ(request.GetLastErrorCode(), 3u);
        ASSERT_TRUE(server_.ClearFault());
        EXPECT_EQ(server_.Requests(mark).size(), c.requestsSeen);
    }
}

TEST_F(HttpRequestServerTest, ARetriedPostIsSentWhole) {
    const std::string body = AlertDocument();
    int64_t documents = server_.LastDocumentId();
    ASSERT_TRUE(server_.SetFault(L"drop", 0, 2));
    CHttpRequest request(server_.Url(L"/EventPost"));
    ASSERT_TRUE(Post(request, body)) << request.GetLastErrorCode();
    auto requests = NewRequests();
    ASSERT_EQ(requests.size(), 3u);
    for (auto& sent : requests) {
        // One Content-Length with the body's size, not values run together.
        EXPECT_NE(sent["headers"].find("Content-Length: " + std::to_string(body.size()) + "\n"),
                  std::string::npos)
            << sent["headers"];
        EXPECT_EQ(sent["body_length"], std::to_string(body.size()));
    }
    auto stored = server_.Documents(documents);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["body"], body);
}

TEST_F(HttpRequestServerTest, AnEndlessResponseIsCutAtTheCap) {
    ASSERT_TRUE(server_.SetFault(L"endless"));
    CHttpRequest request(server_.Url(L"/EventDefinitions/6.1"));
    EXPECT_FALSE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetLastErrorCode(), kx::platform::kErrorResponseTooLarge);
    EXPECT_EQ(NewRequests().size(), 1u);
}

// A gigabyte announced by its Content-Length fails at the cap, as an
// endless body does.
TEST_F(HttpRequestServerTest, AHugeResponseIsCutAtTheCap) {
    ASSERT_TRUE(server_.SetFault(L"huge"));
    CHttpRequest request(server_.Url(L"/EventDefinitions/6.1"));
    EXPECT_FALSE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetLastErrorCode(), kx::platform::kErrorResponseTooLarge);
    EXPECT_EQ(NewRequests().size(), 1u);
}

// A refusal with a count lasts that many delays, then the port listens again
// and the server behaves.
TEST_F(HttpRequestServerTest, ARefusalWithACountEnds) {
    ASSERT_TRUE(server_.SetFault(L"refuse", 1500, 2));
    CHttpRequest refused(server_.Url(L"/GetConfigValue?Name=EDVersionNumber"));
    EXPECT_FALSE(refused.SendRequest(L"GET", false));
    EXPECT_EQ(refused.GetLastErrorCode(), 3u);
    bool answered = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!answered && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        CHttpRequest again(server_.Url(L"/GetConfigValue?Name=EDVersionNumber"));
        answered = again.SendRequest(L"GET", false) &&
                   again.GetResponseText().find(L"<Success>true</Success>") != std::wstring::npos;
    }
    EXPECT_TRUE(answered);
    auto requests = NewRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back()["fault"], "none");
}

// The definitions document is announced in the charset it is written in.
TEST_F(HttpRequestServerTest, DefinitionsAreServedInTheirOwnCharset) {
    const std::string declaration = "<?xml version=\"1.0\"?><KXEventDefinitions/>";
    struct Case {
        std::string bytes;
        const wchar_t* contentType;
    } cases[] = {
        {"\xff\xfe" + kx::WideToUtf16LE(L"<?xml version=\"1.0\"?><KXEventDefinitions/>"),
         L"text/xml; charset=utf-16\r\n"},
        {std::string("\xfe\xff<", 3), L"text/xml; charset=utf-16\r\n"},
        {"\xef\xbb\xbf" + declaration, L"text/xml; charset=utf-8\r\n"},
        {"<?xml version=\"1.0\" encoding=\"Windows-1252\"?><KXEventDefinitions/>",
         L"text/xml; charset=windows-1252\r\n"},
        {declaration, L"text/xml; charset=utf-8\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kx::WideToUtf8(c.contentType));
        ASSERT_TRUE(server_.SetDefinitions(c.bytes));
        CHttpRequest request(server_.Url(L"/EventDefinitions/6.1"));
        ASSERT_TRUE(request.SendRequest(L"GET", false));
        EXPECT_NE(
            request.GetResponseHeaders().find(std::wstring(L"Content-Type: ") + c.contentType),
            std::wstring::npos)
            << kx::WideToUtf8(request.GetResponseHeaders());
    }
    // and the agent reads a UTF-16 document as the text it holds
    ASSERT_TRUE(server_.SetDefinitions(cases[0].bytes));
    CHttpRequest request(server_.Url(L"/EventDefinitions/6.1"));
    ASSERT_TRUE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetResponseText(), L"<?xml version=\"1.0\"?><KXEventDefinitions/>");
}

TEST_F(HttpRequestServerTest, RedirectionsAreFollowed) {
    std::wstring target = L"/Sample?body=moved";
    CHttpRequest request(
        server_.Url(L"/Sample?status=302&header=" + EncodeQueryValue(L"Location: " + target)));
    ASSERT_TRUE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetResponseText(), L"moved");
    EXPECT_EQ(NewRequests().size(), 2u);

    CHttpRequest stay(server_.Url(L"/Sample?status=302&body=here&header=" +
                                  EncodeQueryValue(L"Location: " + target)));
    ASSERT_TRUE(stay.SendRequest(L"GET", true));
    EXPECT_EQ(stay.GetResponseText(), L"here");
}

TEST_F(HttpRequestServerTest, EmptyUrlAndPutNeverReachTheServer) {
    CHttpRequest empty(L"");
    EXPECT_FALSE(empty.SendRequest(L"GET", false));
    EXPECT_EQ(empty.GetLastErrorCode(), 3u);
    CHttpRequest put(server_.Url(L"/EventPost"));
    EXPECT_FALSE(put.SendRequest(L"PUT", false));
    EXPECT_EQ(put.GetLastErrorCode(), 87u);
    EXPECT_TRUE(NewRequests().empty());
}

TEST_F(HttpRequestServerTest, UrlsTheClientCannotUse) {
    CHttpRequest scheme(L"ftp://127.0.0.1/file");
    EXPECT_FALSE(scheme.SendRequest(L"GET", false));
    EXPECT_EQ(scheme.GetLastErrorCode(), kx::platform::kErrorWinHttpUnrecognizedScheme);
    CHttpRequest nothing(L"not a url");
    EXPECT_FALSE(nothing.SendRequest(L"GET", false));
    EXPECT_NE(nothing.GetLastErrorCode(), 0u);
    EXPECT_NE(nothing.GetLastErrorCode(), 3u);
}
