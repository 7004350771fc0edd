#include "platform/HttpTransport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <new>
#include <string_view>

#include "TrustedRoots.h"

namespace kx::platform {
namespace {

constexpr DWORD kWritePiece = 16384;
constexpr std::size_t kInitialBodyBuffer = 10240;
// WinHTTP's own certificate checks, turned off when the agent's certificate
// authorities stand in for the machine's roots (CTrustedRoots checks then).
constexpr DWORD kIgnoreCertificateProblems = 0x3100;  // unknown CA, bad date, name mismatch
constexpr std::size_t kProxyTextLimit = 260;

// Some WinHTTP implementations (Wine's) report socket errors where Windows
// reports its own codes; callers see the WinHTTP codes either way.
DWORD WinHttpError(DWORD error) {
    switch (error) {
        case WSAETIMEDOUT:
            return kErrorWinHttpTimeout;
        case WSAECONNREFUSED:
            return kErrorWinHttpCannotConnect;
        case WSAECONNRESET:
        case WSAECONNABORTED:
            return kErrorWinHttpConnectionError;
        default:
            return error;
    }
}

// A header of the response queried as text; empty when it cannot be read.
std::wstring QueryHeaderText(HINTERNET request, DWORD info) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::wstring();
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::wstring();
    }
    text.resize(bytes / sizeof(wchar_t));
    return text;
}

// What WinHTTP's status callback reports of a refused certificate, as the
// error code the Linux transport gives for the same fault.
uint32_t SecureFailureError(DWORD flags) {
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return kErrorWinHttpSecureInvalidCa;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return kErrorWinHttpSecureCertDateInvalid;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return kErrorWinHttpSecureCertNameInvalid;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) return kErrorWinHttpSecureCertRevoked;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT) return kErrorWinHttpSecureInvalidCert;
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR)
        return kErrorWinHttpSecureChannelError;
    return kErrorWinHttpSecureFailure;
}

std::wstring HostOfUrl(const wchar_t* url) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url, 0, 0, &parts) || parts.lpszHostName == nullptr) return {};
    return std::wstring(parts.lpszHostName, parts.dwHostNameLength);
}

void FreeProxyConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config) {
    if (config.lpszAutoConfigUrl) GlobalFree(config.lpszAutoConfigUrl);
    if (config.lpszProxy) GlobalFree(config.lpszProxy);
    if (config.lpszProxyBypass) GlobalFree(config.lpszProxyBypass);
}

void FreeProxyInfo(WINHTTP_PROXY_INFO& info) {
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
}

class CWinHttpTransport final : public IHttpTransport {
public:
    ~CWinHttpTransport() override {
        Close();
        if (session_ != nullptr) WinHttpCloseHandle(session_);
    }

    uint32_t Open(const HttpTarget& target) override {
        Close();
        target_ = target;
        if (session_ == nullptr) {
            session_ = WinHttpOpen(target.userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
            if (session_ == nullptr) return GetLastError();
            const HttpTimeouts& t = target.timeouts;
            WinHttpSetTimeouts(session_, static_cast<int>(t.resolve), static_cast<int>(t.connect),
                               static_cast<int>(t.send), static_cast<int>(t.receive));
        }
        URL_COMPONENTS parts = {};
        parts.dwStructSize = sizeof(parts);
        parts.dwSchemeLength = parts.dwHostNameLength = static_cast<DWORD>(-1);
        parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(target_.url.c_str(), static_cast<DWORD>(target_.url.size()), 0,
                             &parts)) {
            return GetLastError();
        }
        std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        // The path runs on to the end of the URL: the query string belongs to it.
        std::wstring object = parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath) : std::wstring();
        secure_ = parts.nScheme == INTERNET_SCHEME_HTTPS;
        if (secure_ && !target.trustedCertificates.empty()) {
            if (uint32_t error = roots_.Load(target.trustedCertificates); error != 0) return error;
        } else {
            roots_.Clear();
        }
        host_ = host;
        connection_ = WinHttpConnect(session_, host.c_str(), parts.nPort, 0);
        if (connection_ != nullptr) {
            request_ = WinHttpOpenRequest(connection_, target_.verb.c_str(), object.c_str(),
                                          nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          secure_ ? WINHTTP_FLAG_SECURE : 0);
        }
        if (request_ == nullptr) {
            DWORD error = GetLastError();
            Close();
            return error;
        }
        // One connection per request: the agent's requests are seconds apart,
        // and a pooled connection that timed out or was cut could otherwise
        // hand a late answer to the next attempt.
        DWORD noKeepAlive = WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(request_, WINHTTP_OPTION_DISABLE_FEATURE, &noKeepAlive,
                         sizeof(noKeepAlive));
        // Waiting for the response's headers is receiving too.
        DWORD receive = target.timeouts.receive;
        WinHttpSetOption(request_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive,
                         sizeof(receive));
        if (secure_) WatchSecurity();
        headersAdded_ = false;
        return 0;
    }

    uint32_t Attempt(const HttpAttemptRequest& request, HttpAttemptResponse& response) override {
        response = HttpAttemptResponse();
        PrepareAttempt(request);
        secureFailureFlags_ = 0;
        currentHost_ = host_;
        DWORD error = Send();
        if (error != 0) return AttemptError(error);
        // No byte of the body goes to a server whose certificate is refused.
        if (uint32_t refused = CheckServerCertificate(); refused != 0) return refused;
        WriteBody(request.body);
        if (!WinHttpReceiveResponse(request_, nullptr)) return AttemptError(GetLastError());
        // A redirection may have moved the request to another connection.
        if (uint32_t refused = CheckServerCertificate(); refused != 0) return refused;
        response.rawHeaders = QueryHeaderText(request_, WINHTTP_QUERY_RAW_HEADERS_CRLF);
        response.statusCode = QueryHeaderText(request_, WINHTTP_QUERY_STATUS_CODE);
        return WinHttpError(ReadBody(request.maxResponseBytes, response.body));
    }

    void Close() override {
        if (request_ != nullptr) WinHttpCloseHandle(request_);
        if (connection_ != nullptr) WinHttpCloseHandle(connection_);
        request_ = connection_ = nullptr;
    }

private:
    // HTTPS: WinHTTP's checks against the machine's roots, or with the
    // agent's own authorities CTrustedRoots instead; a redirection never
    // leaves https (WinHTTP's default policy, set so that it holds). The
    // status callback tells why WinHTTP refused a certificate, and where a
    // redirection leads.
    void WatchSecurity() {
        if (roots_.Loaded()) {
            DWORD flags = kIgnoreCertificateProblems;
            WinHttpSetOption(request_, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
        }
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
        WinHttpSetOption(request_, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
        DWORD_PTR self = reinterpret_cast<DWORD_PTR>(this);
        WinHttpSetOption(request_, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof(self));
        WinHttpSetStatusCallback(
            request_, OnStatus,
            WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_REDIRECT, 0);
    }

    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information,
                                  DWORD length) {
        auto* self = reinterpret_cast<CWinHttpTransport*>(context);
        if (self == nullptr || information == nullptr) return;
        if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && length >= sizeof(DWORD)) {
            self->secureFailureFlags_ = *static_cast<const DWORD*>(information);
        }
        if (status == WINHTTP_CALLBACK_STATUS_REDIRECT) {
            // A relative location (as Wine passes it on) stays on the host.
            std::wstring host = HostOfUrl(static_cast<const wchar_t*>(information));
            if (!host.empty()) self->currentHost_ = host;
        }
    }

    uint32_t AttemptError(DWORD error) const {
        if (error == ERROR_WINHTTP_SECURE_FAILURE) return SecureFailureError(secureFailureFlags_);
        return WinHttpError(error);
    }

    // Over HTTPS the answer must come over TLS, and with the agent's own
    // authorities from a server whose certificate they trust for the host
    // the request is at.
    uint32_t CheckServerCertificate() const {
        if (!secure_) return 0;
        PCCERT_CONTEXT certificate = nullptr;
        DWORD size = sizeof(certificate);
        if (!WinHttpQueryOption(request_, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate,
                                &size) ||
            certificate == nullptr) {
            return kErrorWinHttpRedirectFailed;
        }
        uint32_t refused = roots_.Loaded() ? roots_.Check(certificate, currentHost_) : 0;
        CertFreeCertificateContext(certificate);
        return refused;
    }

    void PrepareAttempt(const HttpAttemptRequest& request) {
        // Headers stay on the request handle: added again, a retry would send
        // them coalesced ("Content-Length: 10; 10").
        if (!headersAdded_ && !request.headers.empty()) {
            headersAdded_ =
                WinHttpAddRequestHeaders(request_, request.headers.c_str(), static_cast<DWORD>(-1),
                                         WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON);
        }
        if (target_.noRedirect) {
            DWORD disable = WINHTTP_DISABLE_REDIRECTS;
            WinHttpSetOption(request_, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
        }
    }

    static bool SendOnce(HINTERNET request) {
        return WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                  WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    }

    // Sends directly; when that fails, falls back to the user's proxy
    // configuration. 0 when the request went out.
    DWORD Send() {
        if (SendOnce(request_)) return 0;
        DWORD error = GetLastError();
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
        if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return GetLastError();
        if (config.lpszAutoConfigUrl != nullptr) {
            error = SendThroughProxyScript(config.lpszAutoConfigUrl);
        } else if (config.lpszProxy != nullptr) {
            UseNamedProxy(config.lpszProxy, config.lpszProxyBypass);  // the next attempt uses it
        }
        FreeProxyConfig(config);
        return error;
    }

    DWORD SendThroughProxyScript(wchar_t* scriptUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_CONFIG_URL;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP;
        options.lpszAutoConfigUrl = scriptUrl;
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info = {};
        if (!WinHttpGetProxyForUrl(session_, target_.url.c_str(), &options, &info)) {
            return GetLastError();
        }
        WinHttpSetOption(request_, WINHTTP_OPTION_PROXY, &info, sizeof(info));
        DWORD error = SendOnce(request_) ? 0 : GetLastError();
        FreeProxyInfo(info);
        return error;
    }

    void UseNamedProxy(const wchar_t* proxy, const wchar_t* bypass) {
        std::wstring name(std::wstring_view(proxy).substr(0, kProxyTextLimit - 1));
        std::wstring exceptions(bypass ? std::wstring_view(bypass).substr(0, kProxyTextLimit - 1)
                                       : std::wstring_view());
        WINHTTP_PROXY_INFO info = {};
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = name.data();
        info.lpszProxyBypass = exceptions.empty() ? nullptr : exceptions.data();
        WinHttpSetOption(request_, WINHTTP_OPTION_PROXY, &info, sizeof(info));
    }

    // A failed write stops writing; receiving the response tells the rest.
    void WriteBody(const std::string& body) {
        for (std::size_t offset = 0; offset < body.size();) {
            DWORD piece =
                static_cast<DWORD>(std::min<std::size_t>(kWritePiece, body.size() - offset));
            DWORD written = 0;
            if (!WinHttpWriteData(request_, body.data() + offset, piece, &written)) return;
            offset += piece;
        }
    }

    // The whole body, or the error that cut it short: a body that stops
    // half-way is not a response.
    DWORD ReadBody(std::size_t limit, std::string& body) {
        try {
            body.reserve(kInitialBodyBuffer);
            for (;;) {
                DWORD available = 0;
                if (!WinHttpQueryDataAvailable(request_, &available)) return GetLastError();
                if (available == 0) return 0;
                if (body.size() + available > limit) return kErrorResponseTooLarge;
                std::size_t at = body.size();
                body.resize(at + available);
                DWORD read = 0;
                if (!WinHttpReadData(request_, body.data() + at, available, &read)) {
                    return GetLastError();
                }
                body.resize(at + read);
            }
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    HINTERNET request_ = nullptr;
    HttpTarget target_;
    bool headersAdded_ = false;
    bool secure_ = false;
    CTrustedRoots roots_;
    std::wstring host_;
    std::wstring currentHost_;  // the host a redirection led to
    DWORD secureFailureFlags_ = 0;
};

}  // namespace

std::unique_ptr<IHttpTransport> CreateHttpTransport() {
    return std::make_unique<CWinHttpTransport>();
}

}  // namespace kx::platform
