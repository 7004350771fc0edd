#pragma once
// IDirectorySearch over LDAP: the rows arrive one by one as they are asked
// for, page by page with the paged-results control; continuation references
// are skipped. The tombstone preference adds the show-deleted control.

#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Directory.h"
#include "platform/posix/LdapConnection.h"

namespace kx::platform {

class LdapSearch : public IDirectorySearch {
public:
    // base as the directory reads it ("DC=x", "<WKGUID=...,DC=x>", "" for RootDSE).
    LdapSearch(std::shared_ptr<LdapConnection> connection, std::string base);
    ~LdapSearch() override;

    uint32_t SetSearchPreference(const std::vector<SearchPreference>& preferences) override;
    uint32_t ExecuteSearch(const std::wstring& filter,
                           const std::vector<std::wstring>& attributes) override;
    uint32_t GetNextRow() override;
    uint32_t GetStringColumn(const std::wstring& name, std::wstring& value) override;
    uint32_t GetOctetColumn(const std::wstring& name, std::vector<uint8_t>& value) override;
    uint32_t CloseSearchHandle() override;

private:
    uint32_t SendPage();
    // 1 when the page's result says another page follows, 0 when not.
    uint32_t FinishPage(LDAPMessage* result, bool* more);
    berval** Values(const std::wstring& name);

    std::shared_ptr<LdapConnection> connection_;
    std::string base_;
    int scope_ = LDAP_SCOPE_SUBTREE;
    uint32_t pageSize_ = 0;
    bool tombstones_ = false;
    std::string filter_;
    std::vector<std::string> attributes_;
    int messageId_ = -1;
    berval* cookie_ = nullptr;
    LDAPMessage* row_ = nullptr;
    bool done_ = true;
};

}  // namespace kx::platform
