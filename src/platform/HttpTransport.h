#pragma once
// The HTTP port: one request sent over the wire, attempt by attempt. The
// request logic (verb and URL checks, the attempts, reading the headers,
// decoding the body) is CHttpRequest's; a transport only opens, tries and
// closes. WinHTTP on Windows, libcurl on Linux. Errors are Win32 / WinHTTP
// error codes on both platforms.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kx::platform {

// Error codes the transports report besides the platform's own.
inline constexpr uint32_t kErrorWinHttpTimeout = 12002;
inline constexpr uint32_t kErrorWinHttpInternal = 12004;
inline constexpr uint32_t kErrorWinHttpInvalidUrl = 12005;
inline constexpr uint32_t kErrorWinHttpUnrecognizedScheme = 12006;
inline constexpr uint32_t kErrorWinHttpNameNotResolved = 12007;
inline constexpr uint32_t kErrorWinHttpCannotConnect = 12029;
inline constexpr uint32_t kErrorWinHttpConnectionError = 12030;
inline constexpr uint32_t kErrorWinHttpInvalidServerResponse = 12152;
inline constexpr uint32_t kErrorWinHttpRedirectFailed = 12156;
inline constexpr uint32_t kErrorWinHttpHeaderSizeOverflow = 12183;
// A response body larger than the caller allows (ERROR_MESSAGE_EXCEEDS_MAX_SIZE).
inline constexpr uint32_t kErrorResponseTooLarge = 4336;

// HTTPS: the server's certificate refused, and the channel that could not be
// set up. Both transports give the same code for the same certificate.
inline constexpr uint32_t kErrorWinHttpSecureCertDateInvalid = 12037;  // expired, not yet valid
inline constexpr uint32_t kErrorWinHttpSecureCertNameInvalid = 12038;  // issued for another name
inline constexpr uint32_t kErrorWinHttpSecureInvalidCa = 12045;        // no trusted root
inline constexpr uint32_t kErrorWinHttpSecureInvalidCert = 12169;      // any other fault
inline constexpr uint32_t kErrorWinHttpSecureCertRevoked = 12170;
inline constexpr uint32_t kErrorWinHttpSecureFailure = 12175;  // refused, reason unknown
// The TLS handshake failed: a server that speaks plain HTTP, no common
// protocol, a connection cut during the handshake; Wine's WinHTTP also
// reports every certificate its own checks refuse this way.
inline constexpr uint32_t kErrorWinHttpSecureChannelError = 12157;
// The certificate authorities to trust hold no certificate that can be read
// (ERROR_BAD_FORMAT).
inline constexpr uint32_t kErrorTrustedCertificatesUnusable = 11;

// A refusal that another attempt at the same server would meet again.
inline bool IsCertificateRefusal(uint32_t error) {
    switch (error) {
        case kErrorWinHttpSecureCertDateInvalid:
        case kErrorWinHttpSecureCertNameInvalid:
        case kErrorWinHttpSecureInvalidCa:
        case kErrorWinHttpSecureInvalidCert:
        case kErrorWinHttpSecureCertRevoked:
        case kErrorWinHttpSecureFailure:
        case kErrorTrustedCertificatesUnusable:
            return true;
        default:
            return false;
    }
}

// Milliseconds; 0 means no limit. Send and receive are idle limits: how long
// one send or receive may wait for the network, not the whole transfer.
struct HttpTimeouts {
    uint32_t resolve = 0;
    uint32_t connect = 60000;
    uint32_t send = 30000;
    uint32_t receive = 30000;
};

// What one SendRequest opens.
struct HttpTarget {
    std::wstring url;
    std::wstring verb;  // exactly "GET" or "POST"
    std::wstring userAgent;
    HttpTimeouts timeouts;
    bool noRedirect = false;
    // HTTPS: the certificate authorities (PEM) that the server's certificate
    // must chain to, one of them its root; empty: the system's trusted roots.
    // The certificate's dates and name are checked either way, and a
    // redirection never leaves https.
    std::string trustedCertificates;
};

// One attempt on the opened request.
struct HttpAttemptRequest {
    // Additional header text, each header ended by CR LF; added to the request
    // as it stands, with no header of the transport's own that WinHTTP would
    // not send.
    std::wstring headers;
    // Sent exactly as given, NUL bytes included (may be empty).
    std::string body;
    // A body longer than this fails the attempt with kErrorResponseTooLarge.
    std::size_t maxResponseBytes = 0;
};

struct HttpAttemptResponse {
    // The raw header block of the final response: status line first, CR LF
    // after every line, an empty line at the end. Empty when unreadable.
    std::wstring rawHeaders;
    std::wstring statusCode;  // "200", "500", ...
    std::string body;
};

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // Opens what the attempts of one SendRequest need: the session (kept for
    // later sends of the same request object), the connection and the request.
    // 0 or an error code; on failure nothing stays open but the session.
    virtual uint32_t Open(const HttpTarget& target) = 0;
    // One attempt: sends the request and receives the whole response. 0 when
    // a complete response arrived, whatever its status; else an error code.
    virtual uint32_t Attempt(const HttpAttemptRequest& request, HttpAttemptResponse& response) = 0;
    // Closes the connection and the request; the session stays.
    virtual void Close() = 0;
};

// The platform's transport.
std::unique_ptr<IHttpTransport> CreateHttpTransport();

}  // namespace kx::platform
