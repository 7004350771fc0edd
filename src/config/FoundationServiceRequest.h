#pragma once
// One request to the Korvex Foundation service at the endpoint the policy
// names, read anew for every request: "http://KFSServer:KFSPort" and the
// path, or "https://..." when "KFSUseHttps" is 1. Over HTTPS the server's
// certificate must be in date, name the server and chain to a root of
// "KFSCACertificates" (the path of a PEM file, which is what a Group Policy
// text box holds, or the PEM text itself), or with that value empty to the
// system's trusted roots. A request that HTTPS refuses logs one line that
// says why; one whose certificate authorities cannot be read is not sent at
// all, rather than trusting the system's roots instead.

#include <cstdint>
#include <string>

#include "http/HttpRequest.h"

// The PEM text that a "KFSCACertificates" value stands for: the value itself
// when it is PEM text, else the content of the file it names. 0, the file's
// error, or kErrorTrustedCertificatesUnusable when no certificate is in it
// (or the file is over 1 MiB: the system's whole bundle is about 200 KB).
uint32_t ReadTrustedCertificates(const std::wstring& setting, std::string* pem);
bool IsPemText(const std::wstring& setting);

class CFoundationServiceRequest {
public:
    // pathAndQuery: "/EventPost", "/GetConfigValue?Name=..." (inserted as given).
    explicit CFoundationServiceRequest(const std::wstring& pathAndQuery);
    CFoundationServiceRequest(const CFoundationServiceRequest&) = delete;
    CFoundationServiceRequest& operator=(const CFoundationServiceRequest&) = delete;

    const std::wstring& Url() const { return url_; }
    // Headers, body and the response.
    CHttpRequest& Http() { return request_; }
    // CHttpRequest::SendRequest; false with the reason in GetLastErrorCode.
    bool Send(const std::wstring& verb, bool noRedirect);
    uint32_t GetLastErrorCode() const;

private:
    static std::wstring ServiceUrl(const std::wstring& pathAndQuery);
    void TakeTrustedCertificates();
    void LogUnusableCertificates(uint32_t error) const;
    void LogRefusal(uint32_t error) const;

    std::wstring url_;
    bool secure_ = false;
    std::wstring certificatesSetting_;
    uint32_t certificatesError_ = 0;  // why the authorities named cannot be used
    CHttpRequest request_;
};
