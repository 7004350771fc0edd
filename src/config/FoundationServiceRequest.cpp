#include "config/FoundationServiceRequest.h"

#include <cstdio>
#include <memory>

#include "BaseClasses/LogData.h"
#include "common/Format.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "platform/Files.h"
#include "platform/HttpTransport.h"
#include "platform/Process.h"

namespace {

constexpr const wchar_t* kSourceFile = L"..\\config\\FoundationServiceRequest.cpp";
constexpr std::wstring_view kPemText = L"-----BEGIN";
constexpr std::string_view kPemCertificate = "-----BEGIN CERTIFICATE-----";
constexpr std::size_t kMaxCertificatesBytes = 1024 * 1024;

uint32_t ReadCertificatesFile(const std::wstring& path, std::string* pem) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(kx::platform::OpenFileStream(path, L"rb"),
                                                         &std::fclose);
    if (!file) return kx::platform::GetLastErrorCode();
    char buffer[16384];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
        if (pem->size() + read > kMaxCertificatesBytes) {
            return kx::platform::kErrorTrustedCertificatesUnusable;
        }
        pem->append(buffer, read);
    }
    return std::ferror(file.get()) ? kx::platform::kErrorTrustedCertificatesUnusable : 0;
}

// Why HTTPS refused the server, the same words on both platforms.
const wchar_t* RefusalReason(uint32_t error) {
    switch (error) {
        case kx::platform::kErrorWinHttpSecureInvalidCa:
            return L"its certificate is not from a trusted certificate authority";
        case kx::platform::kErrorWinHttpSecureCertDateInvalid:
            return L"its certificate has expired or is not yet valid";
        case kx::platform::kErrorWinHttpSecureCertNameInvalid:
            return L"its certificate is for another name";
        case kx::platform::kErrorWinHttpSecureCertRevoked:
            return L"its certificate has been revoked";
        case kx::platform::kErrorWinHttpSecureInvalidCert:
            return L"its certificate is not valid";
        case kx::platform::kErrorWinHttpSecureFailure:
            return L"its certificate was refused";
        case kx::platform::kErrorWinHttpSecureChannelError:
            return L"no secure channel could be set up with it (the TLS handshake failed)";
        default:
            return nullptr;
    }
}

}  // namespace

bool IsPemText(const std::wstring& setting) {
    return setting.find(kPemText) != std::wstring::npos;
}

uint32_t ReadTrustedCertificates(const std::wstring& setting, std::string* pem) {
    pem->clear();
    uint32_t error = 0;
    if (IsPemText(setting)) {
        *pem = kx::WideToUtf8(setting);
    } else {
        error = ReadCertificatesFile(setting, pem);
    }
    if (error == 0 && pem->find(kPemCertificate) == std::string::npos) {
        error = kx::platform::kErrorTrustedCertificatesUnusable;
    }
    return error;
}

CFoundationServiceRequest::CFoundationServiceRequest(const std::wstring& pathAndQuery)
    : url_(ServiceUrl(pathAndQuery)), request_(url_) {
    secure_ = url_.starts_with(L"https://");
    if (secure_) TakeTrustedCertificates();
}

std::wstring CFoundationServiceRequest::ServiceUrl(const std::wstring& pathAndQuery) {
    const wchar_t* scheme = GetKFSUseHttps() == 1 ? L"https" : L"http";
    return kx::Format(L"%s://%s:%s%s", scheme, GetKFSServer(), GetKFSPort(), pathAndQuery);
}

void CFoundationServiceRequest::TakeTrustedCertificates() {
    certificatesSetting_ = GetKFSCACertificates();
    if (certificatesSetting_.empty()) return;
    std::string pem;
    certificatesError_ = ReadTrustedCertificates(certificatesSetting_, &pem);
    request_.SetTrustedCertificates(std::move(pem));
}

bool CFoundationServiceRequest::Send(const std::wstring& verb, bool noRedirect) {
    if (certificatesError_ != 0) {
        LogUnusableCertificates(certificatesError_);
        return false;
    }
    if (request_.SendRequest(verb, noRedirect)) return true;
    const uint32_t error = request_.GetLastErrorCode();
    if (error == kx::platform::kErrorTrustedCertificatesUnusable) {
        LogUnusableCertificates(error);
    } else if (secure_) {
        LogRefusal(error);
    }
    return false;
}

uint32_t CFoundationServiceRequest::GetLastErrorCode() const {
    return certificatesError_ != 0 ? certificatesError_ : request_.GetLastErrorCode();
}

void CFoundationServiceRequest::LogUnusableCertificates(uint32_t error) const {
    const bool text = IsPemText(certificatesSetting_);
    LogMessage(kSourceFile, __LINE__, kLogError,
               L"The certificate authorities of \"KFSCACertificates\" (%s) cannot be used: %s "
               L"(error %u); nothing was sent to %s.",
               text ? std::wstring(L"PEM text") : certificatesSetting_,
               error == kx::platform::kErrorTrustedCertificatesUnusable
                   ? L"they hold no certificate that can be read"
                   : L"the file cannot be read",
               error, url_);
}

void CFoundationServiceRequest::LogRefusal(uint32_t error) const {
    const wchar_t* reason = RefusalReason(error);
    if (reason == nullptr) return;  // not a matter of HTTPS: the caller's to tell
    LogMessage(kSourceFile, __LINE__, kLogError,
               L"The Korvex Foundation service at %s is not trusted: %s (error %u).", url_, reason,
               error);
}
