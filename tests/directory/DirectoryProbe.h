#pragma once
// The platform's own directory, installed for the test, counting the requests
// that reach it. On Windows under Wine, where IADsPathname cannot remove a
// leaf and ADsEncodeBinaryData is not implemented, those two calls go to the
// agent's portable stand-ins instead; everything else is the real call.

#include <memory>
#include <string>

#include "platform/Directory.h"

class CDirectoryProbe : public kx::platform::IDirectory {
public:
    explicit CDirectoryProbe(bool portableStandIns);
    ~CDirectoryProbe() override;

    // Requests so far: binds, searches and object reads, name calls.
    int Requests() const { return *requests_; }

    std::unique_ptr<kx::platform::IDirectoryPathname> CreatePathname(uint32_t& code) override;
    uint32_t OpenSearch(const std::wstring& path,
                        std::unique_ptr<kx::platform::IDirectorySearch>& search) override;
    uint32_t GetObject(const std::wstring& path,
                       std::unique_ptr<kx::platform::IDirectoryObject>& object) override;
    uint32_t Bind(const std::wstring& server,
                  std::shared_ptr<kx::platform::IDirectoryNames>& names) override;
    uint32_t GetPrimaryDomainController(const std::wstring& domain,
                                        std::wstring& controller) override;
    uint32_t EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) override;
    std::wstring DescribeBindFailure(const std::wstring& target, uint32_t code) override;

private:
    kx::platform::IDirectory& platform_;
    bool portable_;
    std::shared_ptr<int> requests_;
};
