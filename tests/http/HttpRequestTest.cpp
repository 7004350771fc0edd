// CHttpRequest's own logic over a scripted transport: what is opened, how
// many attempts are made, how headers and bodies are read.
#include "http/HttpRequest.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/CodePage.h"

using kx::platform::HttpAttemptRequest;
using kx::platform::HttpAttemptResponse;
using kx::platform::HttpTarget;

namespace {

// What the scripted transport saw.
struct Journal {
    int opens = 0;
    int closes = 0;
    std::vector<HttpTarget> targets;
    std::vector<HttpAttemptRequest> attempts;
};

struct Reply {
    uint32_t error = 0;
    HttpAttemptResponse response;
};

class CScriptedTransport final : public kx::platform::IHttpTransport {
public:
    CScriptedTransport(Journal& journal, std::deque<Reply>& replies, uint32_t openError)
        : journal_(journal), replies_(replies), openError_(openError) {}

    uint32_t Open(const HttpTarget& target) override {
        ++journal_.opens;
        journal_.targets.push_back(target);
        return openError_;
    }
    uint32_t Attempt(const HttpAttemptRequest& request, HttpAttemptResponse& response) override {
        journal_.attempts.push_back(request);
        if (replies_.empty()) return kx::platform::kErrorWinHttpCannotConnect;
        Reply reply = replies_.front();
        if (replies_.size() > 1) replies_.pop_front();
        response = reply.response;
        return reply.error;
    }
    void Close() override { ++journal_.closes; }

private:
    Journal& journal_;
    std::deque<Reply>& replies_;
    uint32_t openError_;
};

Reply Answer(const std::string& body, const std::wstring& contentType = L"text/plain",
             const std::wstring& status = L"200") {
    Reply reply;
    reply.response.statusCode = status;
    reply.response.rawHeaders = L"HTTP/1.1 " + status + L" OK\r\nContent-Type: " + contentType +
                                L"\r\nContent-Length: " + std::to_wstring(body.size()) +
                                L"\r\n\r\n";
    reply.response.body = body;
    return reply;
}

Reply Failure(uint32_t error) {
    Reply reply;
    reply.error = error;
    return reply;
}

class HttpRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHttpTransportFactoryForTesting([this] {
            return std::make_unique<CScriptedTransport>(journal_, replies_, openError_);
        });
    }
    void TearDown() override { SetHttpTransportFactoryForTesting(nullptr); }

    void Script(std::initializer_list<Reply> replies) { replies_.assign(replies); }

    Journal journal_;
    std::deque<Reply> replies_;
    uint32_t openError_ = 0;
};

}  // namespace

TEST_F(HttpRequestTest, EmptyUrlAndUnknownVerbsOpenNothing) {
    CHttpRequest empty(L"");
    EXPECT_FALSE(empty.SendRequest(L"GET", false));
    EXPECT_EQ(empty.GetLastErrorCode(), 3u);

    CHttpRequest put(L"http://server/x");
    EXPECT_FALSE(put.SendRequest(L"PUT", false));
    EXPECT_EQ(put.GetLastErrorCode(), 87u);
    EXPECT_EQ(journal_.opens, 0);
}

TEST_F(HttpRequestTest, VerbIsSentInItsExactFormWithTheClientsSettings) {
    Script({Answer("ok")});
    CHttpRequest request(L"http://server:15601/GetConfigValue?Name=EDVersionNumber");
    EXPECT_TRUE(request.SendRequest(L"post", false));
    ASSERT_EQ(journal_.targets.size(), 1u);
    const HttpTarget& target = journal_.targets.front();
    EXPECT_EQ(target.verb, L"POST");
    EXPECT_EQ(target.url, L"http://server:15601/GetConfigValue?Name=EDVersionNumber");
    EXPECT_EQ(target.userAgent, L"TalmorKXClient");
    EXPECT_FALSE(target.noRedirect);
    EXPECT_EQ(target.timeouts.resolve, 0u);
    EXPECT_EQ(target.timeouts.connect, 60000u);
    EXPECT_EQ(target.timeouts.send, 30000u);
    EXPECT_EQ(target.timeouts.receive, 30000u);
    EXPECT_EQ(journal_.attempts.size(), 1u);
    EXPECT_EQ(journal_.closes, 1);
    EXPECT_EQ(journal_.attempts.front().maxResponseBytes, CHttpRequest::kMaxResponseBytes);
}

TEST_F(HttpRequestTest, FailureToOpenEndsTheSendWithItsCode) {
    openError_ = kx::platform::kErrorWinHttpInvalidUrl;
    CHttpRequest request(L"http://");
    EXPECT_FALSE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetLastErrorCode(), kx::platform::kErrorWinHttpInvalidUrl);
    EXPECT_TRUE(journal_.attempts.empty());
}

TEST_F(HttpRequestTest, ThreeAttemptsThenErrorThree) {
    Script({Failure(kx::platform::kErrorWinHttpCannotConnect)});
    CHttpRequest request(L"http://server/EventPost");
    EXPECT_FALSE(request.SendRequest(L"POST", false));
    EXPECT_EQ(request.GetLastErrorCode(), 3u);
    EXPECT_EQ(journal_.attempts.size(), 3u);
    EXPECT_EQ(journal_.opens, 1);
    EXPECT_EQ(journal_.closes, 1);
}

TEST_F(HttpRequestTest, ALaterAttemptMaySucceed) {
    Script({Failure(kx::platform::kErrorWinHttpTimeout),
            Failure(kx::platform::kErrorWinHttpConnectionError), Answer("third")});
    CHttpRequest request(L"http://server/x");
    EXPECT_TRUE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetResponseText(), L"third");
    EXPECT_EQ(journal_.attempts.size(), 3u);
}

TEST_F(HttpRequestTest, AResponseTooLargeIsNotFetchedAgain) {
    Script({Failure(kx::platform::kErrorResponseTooLarge), Answer("never asked")});
    CHttpRequest request(L"http://server/x");
    EXPECT_FALSE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetLastErrorCode(), kx::platform::kErrorResponseTooLarge);
    EXPECT_EQ(journal_.attempts.size(), 1u);
}

// The same server shows the same certificate again; a failed handshake may
// have been the network's, so it is tried again, and keeps its code too.
TEST_F(HttpRequestTest, ARefusedCertificateIsNotTriedAgainAndKeepsItsCode) {
    Script({Failure(kx::platform::kErrorWinHttpSecureCertNameInvalid), Answer("never asked")});
    CHttpRequest refused(L"https://server/x");
    refused.SetTrustedCertificates("-----BEGIN CERTIFICATE-----");
    EXPECT_FALSE(refused.SendRequest(L"GET", false));
    EXPECT_EQ(refused.GetLastErrorCode(), kx::platform::kErrorWinHttpSecureCertNameInvalid);
    EXPECT_EQ(journal_.attempts.size(), 1u);
    EXPECT_EQ(journal_.targets.back().trustedCertificates, "-----BEGIN CERTIFICATE-----");

    Script({Failure(kx::platform::kErrorWinHttpSecureChannelError)});
    CHttpRequest handshake(L"https://server/x");
    EXPECT_FALSE(handshake.SendRequest(L"GET", false));
    EXPECT_EQ(handshake.GetLastErrorCode(), kx::platform::kErrorWinHttpSecureChannelError);
    EXPECT_EQ(journal_.attempts.size(), 4u);
    EXPECT_EQ(journal_.targets.back().trustedCertificates, "");
}

TEST_F(HttpRequestTest, ErrorStatusCountsAsReceived) {
    Script({Answer("<html><body>Server Error</body></html>", L"text/html", L"500")});
    CHttpRequest request(L"http://server/EventPost");
    EXPECT_TRUE(request.SendRequest(L"POST", false));
    EXPECT_EQ(request.GetResponseText(), L"<html><body>Server Error</body></html>");
    EXPECT_EQ(journal_.attempts.size(), 1u);
}

TEST_F(HttpRequestTest, HtmlWithoutClosingTagIsFetchedAgainForGetOnly) {
    const std::string cut = "<p>x</p><HTML><body>partial";
    Script({Answer(cut, L"text/html")});
    CHttpRequest get(L"http://server/x");
    EXPECT_FALSE(get.SendRequest(L"GET", false));
    EXPECT_EQ(get.GetLastErrorCode(), 3u);
    EXPECT_EQ(journal_.attempts.size(), 3u);
    EXPECT_EQ(get.GetResponseText(), L"<p>x</p><HTML><body>partial");

    journal_ = Journal();
    CHttpRequest post(L"http://server/x");
    EXPECT_TRUE(post.SendRequest(L"POST", false));
    CHttpRequest noRedirect(L"http://server/x");
    EXPECT_TRUE(noRedirect.SendRequest(L"GET", true));
    EXPECT_EQ(journal_.attempts.size(), 2u);

    journal_ = Journal();
    Script({Answer("<HTML>whole</html>", L"text/html")});
    CHttpRequest whole(L"http://server/x");
    EXPECT_TRUE(whole.SendRequest(L"GET", false));
    Script({Answer("no tags at all </html>")});
    CHttpRequest neither(L"http://server/x");
    EXPECT_TRUE(neither.SendRequest(L"GET", false));
    EXPECT_EQ(journal_.attempts.size(), 2u);
}

TEST_F(HttpRequestTest, BodyIsDecodedByTheAnnouncedCharset) {
    const std::string bytes =
        "Gr\xC3\xBC\xC3\x9F"
        "e";  // UTF-8
    const std::wstring asUtf8 = L"Gr\u00fc\u00dfe";
    const std::wstring asAnsi = kx::platform::AnsiToWide(bytes);
    struct Case {
        const wchar_t* contentType;
        std::wstring expected;
    } cases[] = {
        {L"text/xml; charset=utf-8", asUtf8},      {L"text/xml; Charset=UTF-8", asUtf8},
        {L"text/xml;charset=Utf-8", asUtf8},       {L"text/xml", asAnsi},
        {L"text/xml; charset=ISO-8859-1", asAnsi}, {L"text/xml; charset=\"utf-8\"", asAnsi},
    };
    for (const Case& c : cases) {
        Script({Answer(bytes, c.contentType)});
        CHttpRequest request(L"http://server/x");
        ASSERT_TRUE(request.SendRequest(L"GET", false));
        EXPECT_EQ(request.GetResponseText(), c.expected) << kx::WideToUtf8(c.contentType);
    }
}

// A UTF-16 body, such as a definitions document saved by a Windows editor.
TEST_F(HttpRequestTest, AUtf16BodyIsDecodedByItsByteOrderMarkOrItsCharset) {
    const std::wstring text = L"<a>Gr\u00fc\u00dfe \u20ac</a>";
    const std::string little = kx::WideToUtf16LE(text);
    std::string big = little;
    for (std::size_t i = 0; i + 1 < big.size(); i += 2) std::swap(big[i], big[i + 1]);
    struct Case {
        std::string bytes;
        const wchar_t* contentType;
    } cases[] = {
        {"\xFF\xFE" + little, L"text/xml; charset=utf-16"},
        {"\xFE\xFF" + big, L"text/xml; charset=UTF-16"},
        {"\xFE\xFF" + big, L"text/xml; charset=utf-16le"},  // the mark outranks the name
        {little, L"text/xml; charset=utf-16"},
        {little + "\x41", L"text/xml; charset=utf-16le"},  // an odd last byte is no character
        {big, L"text/xml; charset=utf-16be"},
    };
    for (const Case& c : cases) {
        Script({Answer(c.bytes, c.contentType)});
        CHttpRequest request(L"http://server/x");
        ASSERT_TRUE(request.SendRequest(L"GET", false));
        EXPECT_EQ(request.GetResponseText(), text) << kx::WideToUtf8(c.contentType);
    }
}

TEST_F(HttpRequestTest, TextEndsAtTheFirstNulAndHeadersAreKeptRaw) {
    Reply reply = Answer(std::string("ab\0cd", 5), L"text/plain; charset=utf-8");
    Script({reply});
    CHttpRequest request(L"http://server/x");
    ASSERT_TRUE(request.SendRequest(L"GET", false));
    EXPECT_EQ(request.GetResponseText(), L"ab");
    EXPECT_EQ(request.GetResponseHeaders(), reply.response.rawHeaders);
}

TEST_F(HttpRequestTest, HeadersAndBodyReachTheTransportUnchanged) {
    Script({Failure(kx::platform::kErrorWinHttpConnectionError), Answer("ok")});
    const std::string body("\xFF\xFE<\0K\0>\0", 8);
    const std::wstring headers = L"Content-Length: 8\r\nContent-Type: image/jpeg\r\n";
    CHttpRequest request(L"http://server/EventPost");
    request.SetRequestHeaders(headers);
    ASSERT_TRUE(request.SetRequestBody(body.data(), static_cast<uint32_t>(body.size())));
    EXPECT_TRUE(request.SendRequest(L"POST", false));
    ASSERT_EQ(journal_.attempts.size(), 2u);
    for (const HttpAttemptRequest& attempt : journal_.attempts) {
        EXPECT_EQ(attempt.headers, headers);
        EXPECT_EQ(attempt.body, body);
    }
}

TEST_F(HttpRequestTest, BodyMustAgreeWithItsContentLength) {
    CHttpRequest request(L"http://server/EventPost");
    request.SetRequestHeaders(L"Content-Length: 9\r\nContent-Type: image/jpeg\r\n");
    ASSERT_TRUE(request.SetRequestBody("12345678", 8));
    EXPECT_FALSE(request.SendRequest(L"POST", false));
    EXPECT_EQ(request.GetLastErrorCode(), 87u);
    EXPECT_EQ(journal_.opens, 0);

    EXPECT_FALSE(request.SetRequestBody(nullptr, 8));
    request.SetRequestHeaders(L"Content-Length: 0\r\n");
    Script({Answer("ok")});
    EXPECT_TRUE(request.SendRequest(L"POST", false));
    EXPECT_TRUE(journal_.attempts.back().body.empty());
}

TEST_F(HttpRequestTest, TimeoutsCanBeShortenedForTests) {
    kx::platform::HttpTimeouts shortened{0, 500, 200, 300};
    SetHttpTimeoutsForTesting(&shortened);
    Script({Answer("ok")});
    CHttpRequest request(L"http://server/x");
    SetHttpTimeoutsForTesting(nullptr);
    EXPECT_TRUE(request.SendRequest(L"GET", false));
    EXPECT_EQ(journal_.targets.front().timeouts.receive, 300u);
    EXPECT_EQ(journal_.targets.front().timeouts.connect, 500u);
}
