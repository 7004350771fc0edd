#pragma once
// Certificate authorities given to the HTTP transport instead of the
// machine's trusted roots, and the check of a server's certificate against
// them. WinHTTP can only trust the machine's store, so with these its own
// checks are turned off and this one stands in for all of them: the chain
// must end at one of these authorities (a root, not an intermediate), hold
// no fault, be in date, serve for server authentication and name the host.
// Only the additional-store chain engine is used: an exclusive-root engine
// is neither on old Windows nor in Wine.

#include <windows.h>
// after windows.h, which it builds on
#include <wincrypt.h>

#include <cstdint>
#include <string>

namespace kx::platform {

class CTrustedRoots {
public:
    CTrustedRoots() = default;
    ~CTrustedRoots();
    CTrustedRoots(const CTrustedRoots&) = delete;
    CTrustedRoots& operator=(const CTrustedRoots&) = delete;

    // The PEM text's certificates replace those held. 0, or
    // kErrorTrustedCertificatesUnusable when it holds none or one that cannot
    // be read (then none is held).
    uint32_t Load(const std::string& pem);
    bool Loaded() const { return store_ != nullptr; }
    void Clear();
    // 0 when the certificate is trusted for the host; else the WinHTTP code
    // of the refusal (12045 another authority, 12037 out of date, 12038
    // another name, 12169 any other fault).
    uint32_t Check(PCCERT_CONTEXT certificate, const std::wstring& host) const;

private:
    uint32_t CheckChain(PCCERT_CHAIN_CONTEXT chain) const;
    static uint32_t CheckName(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host);

    HCERTSTORE store_ = nullptr;
};

}  // namespace kx::platform
