#include "DirectoryProbe.h"

#include "common/Format.h"
#include "common/LdapPath.h"

using namespace kx::platform;

namespace {

class CountedSearch : public IDirectorySearch {
public:
    CountedSearch(std::unique_ptr<IDirectorySearch> inner, std::shared_ptr<int> requests)
        : inner_(std::move(inner)), requests_(std::move(requests)) {}
    uint32_t SetSearchPreference(const std::vector<SearchPreference>& preferences) override {
        return inner_->SetSearchPreference(preferences);
    }
    uint32_t ExecuteSearch(const std::wstring& filter,
                           const std::vector<std::wstring>& attributes) override {
        ++*requests_;
        return inner_->ExecuteSearch(filter, attributes);
    }
    uint32_t GetNextRow() override { return inner_->GetNextRow(); }
    uint32_t GetStringColumn(const std::wstring& name, std::wstring& value) override {
        return inner_->GetStringColumn(name, value);
    }
    uint32_t GetOctetColumn(const std::wstring& name, std::vector<uint8_t>& value) override {
        return inner_->GetOctetColumn(name, value);
    }
    uint32_t CloseSearchHandle() override { return inner_->CloseSearchHandle(); }

private:
    std::unique_ptr<IDirectorySearch> inner_;
    std::shared_ptr<int> requests_;
};

class CountedNames : public IDirectoryNames {
public:
    CountedNames(std::shared_ptr<IDirectoryNames> inner, std::shared_ptr<int> requests)
        : inner_(std::move(inner)), requests_(std::move(requests)) {}
    uint32_t CrackName(NameFormat offered, NameFormat desired, const std::wstring& name,
                       uint32_t& status, std::wstring& result) override {
        ++*requests_;
        return inner_->CrackName(offered, desired, name, status, result);
    }
    uint32_t MapSchemaGuid(const GuidBytes& guid, SchemaGuidType& type,
                           std::wstring& name) override {
        ++*requests_;
        return inner_->MapSchemaGuid(guid, type, name);
    }

private:
    std::shared_ptr<IDirectoryNames> inner_;
    std::shared_ptr<int> requests_;
};

}  // namespace

CDirectoryProbe::CDirectoryProbe(bool portableStandIns)
    : platform_(GetDirectory()), portable_(portableStandIns), requests_(std::make_shared<int>(0)) {
    SetDirectoryForTesting(this);
}

CDirectoryProbe::~CDirectoryProbe() {
    SetDirectoryForTesting(nullptr);
}

std::unique_ptr<IDirectoryPathname> CDirectoryProbe::CreatePathname(uint32_t& code) {
    if (!portable_) return platform_.CreatePathname(code);
    code = 0;
    return std::make_unique<CLdapPath>();
}

uint32_t CDirectoryProbe::OpenSearch(const std::wstring& path,
                                     std::unique_ptr<IDirectorySearch>& search) {
    ++*requests_;
    std::unique_ptr<IDirectorySearch> inner;
    const uint32_t code = platform_.OpenSearch(path, inner);
    if (inner) search = std::make_unique<CountedSearch>(std::move(inner), requests_);
    return code;
}

uint32_t CDirectoryProbe::GetObject(const std::wstring& path,
                                    std::unique_ptr<IDirectoryObject>& object) {
    ++*requests_;
    return platform_.GetObject(path, object);
}

uint32_t CDirectoryProbe::Bind(const std::wstring& server,
                               std::shared_ptr<IDirectoryNames>& names) {
    ++*requests_;
    std::shared_ptr<IDirectoryNames> inner;
    const uint32_t code = platform_.Bind(server, inner);
    if (inner) names = std::make_shared<CountedNames>(inner, requests_);
    return code;
}

uint32_t CDirectoryProbe::GetPrimaryDomainController(const std::wstring& domain,
                                                     std::wstring& controller) {
    ++*requests_;
    return platform_.GetPrimaryDomainController(domain, controller);
}

uint32_t CDirectoryProbe::EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) {
    if (!portable_) return platform_.EncodeBinaryData(bytes, text);
    text.clear();
    for (uint8_t byte : bytes) text += kx::Format(L"\\%02x", byte);
    return 0;
}

std::wstring CDirectoryProbe::DescribeBindFailure(const std::wstring& target, uint32_t code) {
    return platform_.DescribeBindFailure(target, code);
}
