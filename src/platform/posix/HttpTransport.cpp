#include "platform/HttpTransport.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string_view>

#include "common/Text.h"

namespace kx::platform {
namespace {

// WinHTTP refuses response headers beyond 64 KiB by default; so does this
// transport, so that a server cannot fill memory with header lines.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr long kMaxRedirections = 10;  // WinHTTP's default
constexpr uint32_t kErrorNotEnoughMemory = 8;

using Clock = std::chrono::steady_clock;

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Header text goes on the wire as single bytes, as WinHTTP sends it.
std::string HeaderBytes(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (wchar_t c : text)
        bytes.push_back(static_cast<uint32_t>(c) < 256 ? static_cast<char>(c) : '?');
    return bytes;
}

std::wstring HeaderText(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (char c : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return text;
}

bool HasHeader(const std::string& lines, std::string_view name) {
    std::wstring wideLines = HeaderText(lines);
    std::wstring wideName = HeaderText(name);
    std::size_t at = kx::FindNoCase(wideLines, wideName);
    while (at != std::wstring::npos) {
        if (at == 0 || wideLines[at - 1] == L'\n') return true;
        at = kx::FindNoCase(std::wstring_view(wideLines).substr(at + 1), wideName);
    }
    return false;
}

class CHeaderList {
public:
    ~CHeaderList() { curl_slist_free_all(list_); }
    void Add(const std::string& line) { list_ = curl_slist_append(list_, line.c_str()); }
    curl_slist* Get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

// The state of one attempt, reached from curl's callbacks.
struct CAttemptState {
    HttpAttemptResponse* response = nullptr;
    std::size_t maxBodyBytes = 0;
    HttpTimeouts timeouts;
    bool tooLarge = false;
    bool headerOverflow = false;
    bool outOfMemory = false;
    bool connected = false;
    bool idleTimeout = false;
    long verifyResult = 0;        // OpenSSL's X509_V_* code of a refused certificate
    bool ownAuthorities = false;  // the caller gave the certificate authorities
    std::string headerBytes;
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
    Clock::time_point lastProgress = Clock::now();
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<CAttemptState*>(user);
    std::size_t bytes = size * count;
    std::string& body = state->response->body;
    if (body.size() + bytes > state->maxBodyBytes) {
        state->tooLarge = true;
        return 0;
    }
    try {
        body.append(data, bytes);
    } catch (const std::bad_alloc&) {
        state->outOfMemory = true;
        return 0;
    }
    return bytes;
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<CAttemptState*>(user);
    std::size_t bytes = size * count;
    std::string_view line(data, bytes);
    // Every response of a redirection (or a 1xx) starts a new header block.
    if (line.starts_with("HTTP/")) state->headerBytes.clear();
    if (state->headerBytes.size() + bytes > kMaxHeaderBytes) {
        state->headerOverflow = true;
        return 0;
    }
    state->headerBytes.append(line);
    return bytes;
}

int OnConnected(void* user, char*, char*, int, int) {
    auto* state = static_cast<CAttemptState*>(user);
    state->connected = true;
    state->lastProgress = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// Send and receive time-outs are idle limits, as WinHTTP's are: the attempt
// ends when no byte has moved for that long. Connecting has its own limit.
int OnProgress(void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
               curl_off_t upNow) {
    (void)downTotal;
    auto* state = static_cast<CAttemptState*>(user);
    Clock::time_point now = Clock::now();
    if (!state->connected || downNow != state->lastDown || upNow != state->lastUp) {
        state->lastDown = downNow;
        state->lastUp = upNow;
        state->lastProgress = now;
        return 0;
    }
    bool sending = upTotal > 0 && upNow < upTotal;
    uint32_t limit = sending ? state->timeouts.send : state->timeouts.receive;
    if (limit == 0) return 0;
    if (now - state->lastProgress > std::chrono::milliseconds(limit)) {
        state->idleTimeout = true;
        return 1;
    }
    return 0;
}

// Why OpenSSL refused the server's certificate, as WinHTTP says it. The
// X509_V_ERR_* codes by number: curl brings no OpenSSL header.
uint32_t CertificateRefusal(long verifyResult) {
    switch (verifyResult) {
        // The chain was good and curl's own check of the name failed: curl
        // 7.88 then sets X509_V_ERR_UNSPECIFIED (measured).
        case 0:
        case 1:
        case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
        case 64:  // X509_V_ERR_IP_ADDRESS_MISMATCH
            return kErrorWinHttpSecureCertNameInvalid;
        case 9:   // X509_V_ERR_CERT_NOT_YET_VALID
        case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
            return kErrorWinHttpSecureCertDateInvalid;
        case 2:   // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT
        case 18:  // X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
        case 19:  // X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
        case 20:  // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY
        case 21:  // X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE
        case 27:  // X509_V_ERR_CERT_UNTRUSTED
            return kErrorWinHttpSecureInvalidCa;
        case 23:  // X509_V_ERR_CERT_REVOKED
            return kErrorWinHttpSecureCertRevoked;
        default:
            return kErrorWinHttpSecureInvalidCert;
    }
}

uint32_t MapCurlError(CURLcode code, const CAttemptState& state) {
    if (state.tooLarge) return kErrorResponseTooLarge;
    if (state.headerOverflow) return kErrorWinHttpHeaderSizeOverflow;
    if (state.outOfMemory) return kErrorNotEnoughMemory;
    if (state.idleTimeout) return kErrorWinHttpTimeout;
    switch (code) {
        case CURLE_OK:
            return 0;
        case CURLE_OPERATION_TIMEDOUT:
            return kErrorWinHttpTimeout;
        case CURLE_COULDNT_CONNECT:
            return kErrorWinHttpCannotConnect;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrorWinHttpNameNotResolved;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            return kErrorWinHttpInvalidServerResponse;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            return kErrorWinHttpConnectionError;
        case CURLE_TOO_MANY_REDIRECTS:
            return kErrorWinHttpRedirectFailed;
        case CURLE_UNSUPPORTED_PROTOCOL:
            // The URL's own scheme was checked when it was opened: only a
            // redirection (out of https) leads here.
            return kErrorWinHttpRedirectFailed;
        case CURLE_PEER_FAILED_VERIFICATION:
            return CertificateRefusal(state.verifyResult);
        case CURLE_SSL_CONNECT_ERROR:
            return kErrorWinHttpSecureChannelError;
        case CURLE_SSL_CACERT_BADFILE:
            // The caller's authorities, or the system's bundle (missing: none trusted).
            return state.ownAuthorities ? kErrorTrustedCertificatesUnusable
                                        : kErrorWinHttpSecureInvalidCa;
        case CURLE_URL_MALFORMAT:
            return kErrorWinHttpInvalidUrl;
        case CURLE_OUT_OF_MEMORY:
            return kErrorNotEnoughMemory;
        default:
            return kErrorWinHttpInternal;
    }
}

class CCurlTransport final : public IHttpTransport {
public:
    ~CCurlTransport() override {
        if (handle_ != nullptr) curl_easy_cleanup(handle_);
    }

    uint32_t Open(const HttpTarget& target) override {
        InitialiseCurlOnce();
        if (handle_ == nullptr) handle_ = curl_easy_init();
        if (handle_ == nullptr) return kErrorNotEnoughMemory;
        uint32_t error = CheckUrl(target.url, &secure_);
        if (error != 0) return error;
        target_ = target;
        url_ = kx::WideToUtf8(target.url);
        return 0;
    }

    uint32_t Attempt(const HttpAttemptRequest& request, HttpAttemptResponse& response) override {
        response = HttpAttemptResponse();
        CAttemptState state;
        state.response = &response;
        state.maxBodyBytes = request.maxResponseBytes;
        state.timeouts = target_.timeouts;
        // Direct first, as WinHTTP does; when the server cannot be reached
        // that way, once more through the proxy the environment names.
        CURLcode code = Perform(request, state, true);
        if ((code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST) &&
            ProxyInEnvironment()) {
            state = CAttemptState();
            state.response = &response;
            state.maxBodyBytes = request.maxResponseBytes;
            state.timeouts = target_.timeouts;
            response = HttpAttemptResponse();
            code = Perform(request, state, false);
        }
        curl_easy_getinfo(handle_, CURLINFO_SSL_VERIFYRESULT, &state.verifyResult);
        state.ownAuthorities = !target_.trustedCertificates.empty();
        uint32_t error = MapCurlError(code, state);
        if (error != 0) return error;
        long status = 0;
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
        response.statusCode = std::to_wstring(status);
        response.rawHeaders = HeaderText(state.headerBytes);
        return 0;
    }

    void Close() override {}

private:
    static bool ProxyInEnvironment() {
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "ALL_PROXY"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') return true;
        }
        return false;
    }

    CURLcode Perform(const HttpAttemptRequest& request, CAttemptState& state, bool direct) {
        CHeaderList headers;
        curl_easy_reset(handle_);
        SetRequestOptions(request, headers);
        SetResponseOptions(state);
        if (direct) curl_easy_setopt(handle_, CURLOPT_PROXY, "");
        return curl_easy_perform(handle_);
    }

    // What WinHttpCrackUrl would refuse, refused before anything is sent.
    static uint32_t CheckUrl(const std::wstring& url, bool* secure) {
        *secure = false;
        CURLU* parsed = curl_url();
        if (parsed == nullptr) return kErrorNotEnoughMemory;
        CURLUcode code = curl_url_set(parsed, CURLUPART_URL, kx::WideToUtf8(url).c_str(), 0);
        char* scheme = nullptr;
        if (code == CURLUE_OK) code = curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
        uint32_t error = 0;
        if (code == CURLUE_UNSUPPORTED_SCHEME) {
            error = kErrorWinHttpUnrecognizedScheme;
        } else if (code != CURLUE_OK) {
            error = kErrorWinHttpInvalidUrl;
        } else if (std::string_view(scheme) != "http" && std::string_view(scheme) != "https") {
            error = kErrorWinHttpUnrecognizedScheme;
        } else {
            *secure = std::string_view(scheme) == "https";
        }
        curl_free(scheme);
        curl_url_cleanup(parsed);
        return error;
    }

    void SetRequestOptions(const HttpAttemptRequest& request, CHeaderList& headers) {
        curl_easy_setopt(handle_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, secure_ ? "https" : "http,https");
        curl_easy_setopt(handle_, CURLOPT_USERAGENT, kx::WideToUtf8(target_.userAgent).c_str());
        curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(target_.timeouts.connect));
        curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, target_.noRedirect ? 0L : 1L);
        curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, kMaxRedirections);
        SetTrustOptions();
        curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
        bool post = target_.verb == L"POST";
        if (post || !request.body.empty()) {
            // An explicit size: without it the body would stop at its first NUL.
            curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            if (!post) curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, "GET");
        } else {
            curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
        }
        AddHeaders(request.headers, post, headers);
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers.Get());
    }

    // The server's certificate chains to a trusted root, is in date and
    // names the host. With certificate authorities of the caller's, those
    // alone are trusted (not the system's folder of roots beside them), and
    // one of them must be the chain's root, as on Windows.
    void SetTrustOptions() {
        curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(handle_, CURLOPT_SSL_OPTIONS,
                         static_cast<long>(CURLSSLOPT_NO_PARTIALCHAIN));
        if (target_.trustedCertificates.empty()) return;
        curl_blob blob{target_.trustedCertificates.data(), target_.trustedCertificates.size(),
                       CURL_BLOB_COPY};
        curl_easy_setopt(handle_, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(handle_, CURLOPT_CAPATH, nullptr);
    }

    // The caller's headers, and empty values for the headers curl would add
    // on its own (WinHTTP sends none of them).
    static void AddHeaders(const std::wstring& text, bool post, CHeaderList& headers) {
        std::string lines = HeaderBytes(text);
        std::size_t start = 0;
        while (start < lines.size()) {
            std::size_t end = lines.find("\r\n", start);
            if (end == std::string::npos) end = lines.size();
            if (end > start) headers.Add(lines.substr(start, end - start));
            start = end + 2;
        }
        if (!HasHeader(lines, "Accept:")) headers.Add("Accept:");
        if (!HasHeader(lines, "Expect:")) headers.Add("Expect:");
        if (post && !HasHeader(lines, "Content-Type:")) headers.Add("Content-Type:");
    }

    void SetResponseOptions(CAttemptState& state) {
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &state);
        curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, OnHeaderLine);
        curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &state);
        curl_easy_setopt(handle_, CURLOPT_PREREQFUNCTION, OnConnected);
        curl_easy_setopt(handle_, CURLOPT_PREREQDATA, &state);
        curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, &state);
        curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
    }

    CURL* handle_ = nullptr;
    HttpTarget target_;
    bool secure_ = false;
    std::string url_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace

std::unique_ptr<IHttpTransport> CreateHttpTransport() {
    return std::make_unique<CCurlTransport>();
}

}  // namespace kx::platform
