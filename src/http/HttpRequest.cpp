#include "http/HttpRequest.h"

#include <mutex>
#include <new>
#include <vector>

#include "common/Text.h"
#include "http/PatternMatcher.h"
#include "platform/CodePage.h"

using kx::platform::HttpAttemptRequest;
using kx::platform::HttpAttemptResponse;
using kx::platform::HttpTarget;
using kx::platform::HttpTimeouts;

namespace {

constexpr wchar_t kUserAgent[] = L"TalmorKXClient";

std::mutex g_seamMutex;
HttpTransportFactory g_transportFactory;
bool g_timeoutsOverridden = false;
HttpTimeouts g_timeouts;

std::unique_ptr<kx::platform::IHttpTransport> MakeTransport() {
    std::lock_guard<std::mutex> lock(g_seamMutex);
    return g_transportFactory ? g_transportFactory() : kx::platform::CreateHttpTransport();
}

HttpTimeouts DefaultTimeouts() {
    std::lock_guard<std::mutex> lock(g_seamMutex);
    return g_timeoutsOverridden ? g_timeouts : HttpTimeouts{};
}

// The first capture of every match of the pattern, ignoring case.
std::vector<std::wstring> Captures(const wchar_t* pattern, const std::wstring& text) {
    std::vector<std::wstring> results;
    CPatternMatcher::FindAllCaptures(pattern, false, 1, text, results, false);
    return results;
}

std::wstring FirstCapture(const wchar_t* pattern, const std::wstring& text) {
    std::vector<std::wstring> results = Captures(pattern, text);
    return results.empty() ? std::wstring() : results.front();
}

}  // namespace

void SetHttpTransportFactoryForTesting(HttpTransportFactory factory) {
    std::lock_guard<std::mutex> lock(g_seamMutex);
    g_transportFactory = std::move(factory);
}

void SetHttpTimeoutsForTesting(const HttpTimeouts* timeouts) {
    std::lock_guard<std::mutex> lock(g_seamMutex);
    g_timeoutsOverridden = timeouts != nullptr;
    g_timeouts = timeouts ? *timeouts : HttpTimeouts{};
}

CHttpRequest::CHttpRequest(const std::wstring& url)
    : transport_(MakeTransport()), url_(url), timeouts_(DefaultTimeouts()) {}

CHttpRequest::~CHttpRequest() = default;

void CHttpRequest::SetRequestHeaders(const std::wstring& headers) {
    requestHeaders_ = headers;
}

bool CHttpRequest::SetRequestBody(const void* bytes, uint32_t count) {
    requestBody_.clear();
    if (bytes == nullptr) return false;
    try {
        requestBody_.assign(static_cast<const char*>(bytes), count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CHttpRequest::SendRequest(const std::wstring& verb, bool noRedirect) {
    if (url_.empty()) {
        lastError_ = kErrorNoResponse;
        return false;
    }
    std::wstring exactVerb;
    if (kx::EqualsNoCase(verb, L"GET")) exactVerb = L"GET";
    if (kx::EqualsNoCase(verb, L"POST")) exactVerb = L"POST";
    // A Content-Length that disagrees with the body would leave the server
    // waiting for bytes that never come, or reading the rest as a new request.
    if (exactVerb.empty() || !BodyAgreesWithContentLength()) {
        lastError_ = kErrorInvalidParameter;
        return false;
    }
    uint32_t openError = transport_->Open(
        HttpTarget{url_, exactVerb, kUserAgent, timeouts_, noRedirect, trustedCertificates_});
    if (openError != 0) {
        lastError_ = openError;
        return false;
    }
    bool received = false;
    for (int attempt = 0; attempt < kAttempts && !received; ++attempt) {
        received = TryOnce(exactVerb, noRedirect);
        // The same server would send the same flood, or show the same
        // certificate, again.
        if (lastError_ == kx::platform::kErrorResponseTooLarge ||
            kx::platform::IsCertificateRefusal(lastError_)) {
            break;
        }
    }
    transport_->Close();
    if (received) return true;
    if (!KeepsItsCode(lastError_)) lastError_ = kErrorNoResponse;
    return false;
}

// Codes that tell the caller more than "no response": why HTTPS refused.
bool CHttpRequest::KeepsItsCode(uint32_t error) {
    return error == kx::platform::kErrorResponseTooLarge ||
           error == kx::platform::kErrorWinHttpSecureChannelError ||
           kx::platform::IsCertificateRefusal(error);
}

bool CHttpRequest::BodyAgreesWithContentLength() const {
    std::wstring announced =
        FirstCapture(L"\nContent-Length:\\b*{[0-9]+}", L"\n" + requestHeaders_);
    if (announced.empty()) return true;
    return announced.size() <= 10 &&
           std::stoull(kx::WideToUtf8(announced)) == static_cast<uint64_t>(requestBody_.size());
}

bool CHttpRequest::TryOnce(const std::wstring& verb, bool noRedirect) {
    HttpAttemptRequest request;
    request.headers = requestHeaders_;
    if (!requestCookies_.empty()) request.headers += L"Cookie: " + requestCookies_ + L"\r\n";
    request.body = requestBody_;
    request.maxResponseBytes = kMaxResponseBytes;
    HttpAttemptResponse response;
    uint32_t error = transport_->Attempt(request, response);
    if (error != 0) {
        lastError_ = error;
        return false;
    }
    responseHeaders_ = std::move(response.rawHeaders);
    if (!responseHeaders_.empty()) ReadHeaderValues();
    statusCode_ = std::move(response.statusCode);
    responseBody_ = std::move(response.body);
    ConvertBody();
    if (verb == L"POST" || noRedirect) return true;
    if (IsIncompleteHtml(responseText_)) {
        lastError_ = kErrorIncompleteHtml;
        return false;
    }
    return true;
}

void CHttpRequest::ReadHeaderValues() {
    responseCharset_ = FirstCapture(L"charset={[A-Za-z0-9\\-_]+}", responseHeaders_);
    responseContentLength_ =
        kx::ParseDecimal(FirstCapture(L"Content-Length: {[0-9]+}", responseHeaders_));
    location_ = FirstCapture(L"Location: {[0-9]+}", responseHeaders_);
    std::wstring cookies;
    for (const std::wstring& cookie : Captures(L"Set-Cookie:\\b*{.+?}\\n", responseHeaders_)) {
        if (!cookies.empty()) cookies += L"; ";
        cookies += cookie;
    }
    cookies = kx::Trim(cookies);
    if (!cookies.empty() && cookies.back() != L';') cookies += L';';
    responseCookies_ = cookies;
}

// A body announced as UTF-16 (a definitions document saved by Windows tools
// often is): its byte order mark decides, else the charset's name (a bare
// "utf-16" is taken as little-endian, the way Windows writes it).
std::wstring CHttpRequest::Utf16BodyToWide(const std::string& body, const std::wstring& charset) {
    bool bigEndian = kx::StartsWithNoCase(charset, L"utf-16be");
    std::size_t start = 0;
    if (body.size() >= 2 &&
        (body.compare(0, 2, "\xFF\xFE") == 0 || body.compare(0, 2, "\xFE\xFF") == 0)) {
        bigEndian = body[0] == '\xFE';
        start = 2;
    }
    std::string bytes = body.substr(start, (body.size() - start) & ~std::size_t{1});
    if (bigEndian) {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    }
    return kx::Utf16LEToWide(bytes.data(), bytes.size());
}

void CHttpRequest::ConvertBody() {
    std::wstring text;
    if (kx::StartsWithNoCase(responseCharset_, L"utf-8")) text = kx::Utf8ToWide(responseBody_);
    if (kx::StartsWithNoCase(responseCharset_, L"utf-16"))
        text = Utf16BodyToWide(responseBody_, responseCharset_);
    if (text.empty()) text = kx::platform::AnsiToWide(responseBody_);
    std::size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
    responseText_ = std::move(text);
}

bool CHttpRequest::IsIncompleteHtml(const std::wstring& text) {
    return !Captures(L"{<html>}", text).empty() && Captures(L"{</html>}", text).empty();
}
