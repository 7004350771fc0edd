#include "BaseClasses/ADsPathname.h"

#include "common/LdapEscape.h"
#include "common/Text.h"

using kx::platform::GetDirectory;
using kx::platform::PathFormat;
using kx::platform::PathSetType;

CADsPathname::CADsPathname(const std::wstring& path, bool resolveServer) {
    uint32_t code = 0;
    pathname_ = GetDirectory().CreatePathname(code);
    if (!pathname_) {
        result_ = code ? code : kx::platform::kDirectoryNotImplemented;
        return;
    }
    if (!path.empty()) SetPath(path, resolveServer, PathSetType::Full);
}

bool CADsPathname::SetPath(const std::wstring& path, bool resolveServer, PathSetType type) {
    resolveServer_ = resolveServer;
    if (!pathname_) return false;
    uint32_t code = pathname_->Set(path, type);
    if (code != 0) code = pathname_->Set(path, PathSetType::Server);
    return Changed(code);
}

bool CADsPathname::RemoveLeaf() {
    return pathname_ && Changed(pathname_->RemoveLeafElement());
}

bool CADsPathname::SetServer(const std::wstring& name) {
    if (!pathname_) return false;
    const std::wstring server = name.rfind(L"\\\\", 0) == 0 ? name.substr(2) : name;
    return Changed(pathname_->Set(server, PathSetType::Server));
}

bool CADsPathname::Changed(uint32_t code) {
    result_ = code;
    valid_ = code == 0;
    if (valid_) {
        Refresh();
    } else {
        pathNoServer_.clear();
        fullPath_.clear();
        server_.clear();
    }
    return valid_;
}

void CADsPathname::Refresh() {
    pathNoServer_.clear();
    fullPath_.clear();
    server_.clear();
    if (pathname_->Retrieve(PathFormat::Server, server_) != 0) {
        server_.clear();
        if (resolveServer_) ResolveServer();
    }
    if (pathname_->Retrieve(PathFormat::X500, fullPath_) != 0) fullPath_.clear();
    if (pathname_->Retrieve(PathFormat::X500NoServer, pathNoServer_) != 0) pathNoServer_.clear();
}

void CADsPathname::ResolveServer() {
    std::wstring controller;
    if (GetDirectory().GetPrimaryDomainController(GetDomainFromPath(), controller) != 0) return;
    // SetServer refreshes again, without resolving: the path has a server now.
    SetServer(controller);
}

std::wstring CADsPathname::GetDn() {
    std::wstring dn;
    if (!pathname_ || pathname_->Retrieve(PathFormat::X500Dn, dn) != 0) return L"";
    return kx::UnescapeAdsPathComponent(dn);
}

std::wstring CADsPathname::GetDomainFromPath() {
    long count = 0;
    if (!pathname_ || pathname_->GetNumElements(count) != 0) return L"";
    std::wstring collected;
    for (long index = count - 1; index >= 0; --index) {
        std::wstring element;
        if (pathname_->GetElement(index, element) != 0) break;
        if (!kx::StartsWithNoCase(element, L"DC")) break;
        collected = L"." + (element.size() > 3 ? element.substr(3) : L"") + collected;
    }
    return collected.empty() ? L"" : collected.substr(1);
}

std::wstring CADsPathname::ParentOf(const std::wstring& dn) {
    // A "/" in a name would otherwise end the server part of the path.
    if (!SetPath(L"LDAP://" + kx::EscapeAdsPathComponent(dn), false, PathSetType::Full)) return L"";
    if (!RemoveLeaf()) return L"";
    return GetDn();
}
