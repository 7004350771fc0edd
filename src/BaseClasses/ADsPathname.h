#pragma once
// An LDAP path that property rules parse and rewrite: set it in full or as a
// server, cut its leaf, read its distinguished name, server and domain. The
// path without server, the full path and the server are kept after every
// change; all are empty while the path is not valid. A path set without a
// server may be given the domain's primary domain controller.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Directory.h"

class CADsPathname {
public:
    explicit CADsPathname(const std::wstring& path = L"", bool resolveServer = false);

    bool SetPath(const std::wstring& path, bool resolveServer,
                 kx::platform::PathSetType type = kx::platform::PathSetType::Full);
    bool RemoveLeaf();
    // Removes two leading backslashes, as domain controller names carry them.
    bool SetServer(const std::wstring& name);
    // The distinguished name without provider or server, as the directory
    // writes it ("/" unescaped); empty on failure.
    std::wstring GetDn();
    // The DNS domain of the path's trailing DC= elements ("example.com").
    std::wstring GetDomainFromPath();

    bool IsValid() const { return valid_; }
    uint32_t LastResult() const { return result_; }
    const std::wstring& PathNoServer() const { return pathNoServer_; }
    const std::wstring& FullPath() const { return fullPath_; }
    const std::wstring& Server() const { return server_; }

    // The parent of a distinguished name ("CN=Jane,OU=Sales,DC=x" gives
    // "OU=Sales,DC=x"), or empty.
    std::wstring ParentOf(const std::wstring& dn);

private:
    bool Changed(uint32_t code);
    void Refresh();
    void ResolveServer();

    std::unique_ptr<kx::platform::IDirectoryPathname> pathname_;
    bool valid_ = false;
    uint32_t result_ = 0;
    bool resolveServer_ = false;
    std::wstring pathNoServer_;
    std::wstring fullPath_;
    std::wstring server_;
};
