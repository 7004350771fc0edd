#pragma once
// One HTTP request to the Korvex Foundation service and its response.
//
// A request object is made with its URL, optionally given headers and a body,
// sent, read and destroyed, all on one thread. SendRequest makes up to three
// attempts; it succeeds when any complete response arrived, whatever its
// status (a 404 or 500 is a success here; callers judge the text). The body
// is decoded as UTF-8 when the response names that charset, else with the
// ANSI code page. For "GET", an HTML page without its closing tag counts as
// cut short and is fetched again.
//
// Error codes kept by GetLastErrorCode, besides the transport's Win32 and
// WinHTTP codes: 3 (empty URL, or no attempt received a complete response),
// 13 (HTML page without its closing tag), 87 (a verb other than GET or POST,
// or a Content-Length header that disagrees with the body) and 4336 (the
// response is larger than kMaxResponseBytes; not retried). Over HTTPS, a
// refused server certificate is not retried either, and its code (12037,
// 12038, 12045, ... in platform/HttpTransport.h) is kept, as is 12157 when
// every attempt failed to set up the secure channel.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/HttpTransport.h"

class CHttpRequest {
public:
    static constexpr int kAttempts = 3;
    // What one response may hold. The largest answer the agent expects is the
    // definitions document, a few hundred kilobytes; a server that sends more
    // than this is broken or hostile, and the attempt fails rather than
    // letting the workstation's memory fill.
    static constexpr std::size_t kMaxResponseBytes = 16 * 1024 * 1024;

    static constexpr uint32_t kErrorNoResponse = 3;
    static constexpr uint32_t kErrorIncompleteHtml = 13;
    static constexpr uint32_t kErrorInvalidParameter = 87;

    explicit CHttpRequest(const std::wstring& url);
    ~CHttpRequest();
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    // Header text added to the request unchanged, each header ended by CR LF.
    void SetRequestHeaders(const std::wstring& headers);
    // Copies count bytes as the request body; false and no body when bytes is null.
    bool SetRequestBody(const void* bytes, uint32_t count);
    // HTTPS: the certificate authorities (PEM text) to trust instead of the
    // system's roots; empty (the default) keeps the system's.
    void SetTrustedCertificates(std::string pem) { trustedCertificates_ = std::move(pem); }
    // verb: "GET" or "POST" in any case. noRedirect: do not follow redirections.
    bool SendRequest(const std::wstring& verb, bool noRedirect);

    std::wstring GetResponseText() const { return responseText_; }
    std::wstring GetResponseHeaders() const { return responseHeaders_; }
    // The status code of the last response received ("200"), empty before one.
    std::wstring GetStatusCode() const { return statusCode_; }
    uint32_t GetLastErrorCode() const { return lastError_; }

private:
    bool BodyAgreesWithContentLength() const;
    static bool KeepsItsCode(uint32_t error);
    bool TryOnce(const std::wstring& verb, bool noRedirect);
    void ReadHeaderValues();
    void ConvertBody();
    static std::wstring Utf16BodyToWide(const std::string& body, const std::wstring& charset);
    static bool IsIncompleteHtml(const std::wstring& text);

    std::unique_ptr<kx::platform::IHttpTransport> transport_;
    std::wstring url_;
    std::wstring responseHeaders_;
    std::wstring responseText_;
    std::wstring responseCharset_;
    std::string responseBody_;
    int32_t responseContentLength_ = 0;
    std::wstring responseCookies_;
    std::wstring requestCookies_;
    std::string requestBody_;
    std::wstring requestHeaders_;
    uint32_t lastError_ = 0;
    std::wstring statusCode_;
    std::wstring location_;
    kx::platform::HttpTimeouts timeouts_;
    std::string trustedCertificates_;
};

// Test seams. A factory replaces the platform transport for requests made
// after it is set (an empty function restores the platform's). Time-outs
// replace the defaults of requests made afterwards, so that tests of a slow
// or stalling server finish in seconds (null restores 0, 60000, 30000, 30000).
using HttpTransportFactory = std::function<std::unique_ptr<kx::platform::IHttpTransport>()>;
void SetHttpTransportFactoryForTesting(HttpTransportFactory factory);
void SetHttpTimeoutsForTesting(const kx::platform::HttpTimeouts* timeouts);
