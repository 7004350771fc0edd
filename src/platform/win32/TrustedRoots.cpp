#include "TrustedRoots.h"

#include <winhttp.h>  // the SECURITY_FLAG_IGNORE_* of the SSL policy

#include <string_view>
#include <vector>

#include "platform/HttpTransport.h"

namespace kx::platform {
namespace {

constexpr std::string_view kBeginCertificate = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEndCertificate = "-----END CERTIFICATE-----";

// Chain faults that are no fault here: the root is judged against these
// authorities instead of the machine's, dates are judged on their own, and
// revocation is not asked for (as WinHTTP does not by default).
constexpr DWORD kNotFaults = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_NOT_TIME_VALID |
                             CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                             CERT_TRUST_IS_OFFLINE_REVOCATION;

bool AddPemBlock(HCERTSTORE store, std::string_view block) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        return false;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
        return false;
    }
    return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                            der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING,
                                            nullptr);
}

}  // namespace

CTrustedRoots::~CTrustedRoots() {
    Clear();
}

void CTrustedRoots::Clear() {
    if (store_ != nullptr) CertCloseStore(store_, 0);
    store_ = nullptr;
}

uint32_t CTrustedRoots::Load(const std::string& pem) {
    Clear();
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (store == nullptr) return GetLastError();
    int added = 0;
    bool damaged = false;
    for (std::size_t at = pem.find(kBeginCertificate); at != std::string::npos && !damaged;
         at = pem.find(kBeginCertificate, at + 1)) {
        std::size_t end = pem.find(kEndCertificate, at);
        damaged = end == std::string::npos ||
                  !AddPemBlock(store,
                               std::string_view(pem).substr(at, end + kEndCertificate.size() - at));
        ++added;
    }
    // As OpenSSL does with a damaged bundle: nothing of it is used.
    if (added == 0 || damaged) {
        CertCloseStore(store, 0);
        return kErrorTrustedCertificatesUnusable;
    }
    store_ = store;
    return 0;
}

uint32_t CTrustedRoots::Check(PCCERT_CONTEXT certificate, const std::wstring& host) const {
    LPSTR serverAuthentication[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuthentication;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, store_, &parameters, 0, nullptr,
                                 &chain)) {
        return kErrorWinHttpSecureInvalidCert;
    }
    uint32_t refusal = CheckChain(chain);
    if (refusal == 0) refusal = CheckName(chain, host);
    CertFreeCertificateChain(chain);
    return refusal;
}

// In the order OpenSSL finds them: the authority first, then the dates, then
// any other fault of the chain.
uint32_t CTrustedRoots::CheckChain(PCCERT_CHAIN_CONTEXT chain) const {
    const DWORD faults = chain->TrustStatus.dwErrorStatus;
    const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
    if (simple == nullptr || simple->cElement == 0 || (faults & CERT_TRUST_IS_PARTIAL_CHAIN)) {
        return kErrorWinHttpSecureInvalidCa;
    }
    PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    PCCERT_CONTEXT held = CertFindCertificateInStore(
        store_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
    if (held == nullptr) return kErrorWinHttpSecureInvalidCa;
    CertFreeCertificateContext(held);
    if (faults & CERT_TRUST_IS_NOT_TIME_VALID) return kErrorWinHttpSecureCertDateInvalid;
    if (faults & CERT_TRUST_IS_REVOKED) return kErrorWinHttpSecureCertRevoked;
    if (faults & ~kNotFaults) return kErrorWinHttpSecureInvalidCert;
    return 0;
}

// The name, by the policy WinHTTP applies itself; authority and dates are
// judged above.
uint32_t CTrustedRoots::CheckName(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host) {
    std::wstring name = host;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
        return kErrorWinHttpSecureInvalidCert;
    }
    switch (static_cast<HRESULT>(status.dwError)) {
        case S_OK:
            return 0;
        case CERT_E_CN_NO_MATCH:
            return kErrorWinHttpSecureCertNameInvalid;
        default:
            return kErrorWinHttpSecureInvalidCert;
    }
}

}  // namespace kx::platform
