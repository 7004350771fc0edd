#pragma once
// The agent's own LDAP path object, for platforms without IADsPathname:
// "LDAP://server/dn", a path without server ("LDAP://dn"), a server alone,
// and bases such as "<WKGUID=...,dn>", "<GUID=...>" or "<SID=...>", which
// stay one element. A distinguished name is split at its unescaped commas;
// each element keeps its escapes ("\,", "\0A", "\/", ...) as they were
// written, and a "/" of the name is written "\/", as in any ADsPath.

#include <string>
#include <vector>

#include "platform/Directory.h"

class CLdapPath : public kx::platform::IDirectoryPathname {
public:
    uint32_t Set(const std::wstring& path, kx::platform::PathSetType type) override;
    uint32_t Retrieve(kx::platform::PathFormat format, std::wstring& text) override;
    uint32_t RemoveLeafElement() override;
    uint32_t GetNumElements(long& count) override;
    uint32_t GetElement(long index, std::wstring& element) override;

    const std::wstring& Server() const { return server_; }
    // The distinguished name (or base) as it would be searched: "\/" is "/".
    std::wstring Dn() const;

    // The elements of a distinguished name, leaf first; false when it is
    // not one (an empty element, an element without "=", a dangling escape).
    static bool SplitDn(const std::wstring& dn, std::vector<std::wstring>& elements);

private:
    uint32_t SetFull(const std::wstring& path);
    uint32_t SetDn(const std::wstring& dn);
    static std::wstring Join(const std::vector<std::wstring>& elements, std::size_t first);
    // The distinguished name as the path writes it.
    std::wstring Written() const;

    bool hasProvider_ = false;
    std::wstring server_;
    std::vector<std::wstring> elements_;  // leaf first
};
