#include "common/LdapPath.h"

#include "common/LdapEscape.h"

using kx::platform::kDirectoryBadPathname;
using kx::platform::kDirectoryInvalidArgument;
using kx::platform::PathFormat;
using kx::platform::PathSetType;

namespace {

constexpr wchar_t kProvider[] = L"LDAP:";
constexpr wchar_t kPrefix[] = L"LDAP://";
constexpr std::size_t kPrefixLength = 7;

// Bases that the directory reads as one opaque element, and RootDSE.
bool IsOpaqueBase(const std::wstring& dn) {
    return (!dn.empty() && dn.front() == L'<' && dn.back() == L'>') || dn == L"RootDSE";
}

// The "/" after the server; one written "\/" belongs to the name.
std::size_t FindServerSeparator(const std::wstring& rest) {
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == L'\\')
            ++i;
        else if (rest[i] == L'/')
            return i;
    }
    return std::wstring::npos;
}

bool IsValidServer(const std::wstring& server) {
    return !server.empty() && server.find_first_of(L"/=,<>") == std::wstring::npos;
}

}  // namespace

bool CLdapPath::SplitDn(const std::wstring& dn, std::vector<std::wstring>& elements) {
    std::vector<std::wstring> pieces;
    std::wstring current;
    for (std::size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == L'\\') {
            if (i + 1 >= dn.size()) return false;
            current += dn[i];
            current += dn[++i];
        } else if (dn[i] == L',') {
            pieces.push_back(current);
            current.clear();
        } else {
            current += dn[i];
        }
    }
    pieces.push_back(current);
    for (const std::wstring& piece : pieces) {
        if (piece.find(L'=') == std::wstring::npos || piece.front() == L'=') return false;
    }
    elements = std::move(pieces);
    return true;
}

uint32_t CLdapPath::Set(const std::wstring& path, PathSetType type) {
    switch (type) {
        case PathSetType::Full:
            return SetFull(path);
        case PathSetType::Server:
            if (!IsValidServer(path)) return kDirectoryBadPathname;
            server_ = path;
            hasProvider_ = true;
            return 0;
        case PathSetType::Dn:
            return SetDn(path);
        case PathSetType::Provider:
            if (path != L"LDAP") return kDirectoryBadPathname;
            hasProvider_ = true;
            return 0;
    }
    return kDirectoryInvalidArgument;
}

uint32_t CLdapPath::SetFull(const std::wstring& path) {
    if (path == kProvider) {
        *this = CLdapPath();
        hasProvider_ = true;
        return 0;
    }
    if (path.compare(0, kPrefixLength, kPrefix) != 0) return kDirectoryBadPathname;
    const std::wstring rest = path.substr(kPrefixLength);
    std::wstring server;
    std::wstring dn = rest;
    const std::size_t slash = FindServerSeparator(rest);
    const std::wstring head = rest.substr(0, slash);
    // A server name never holds "=" and never starts a "<...>" base.
    if (!head.empty() && head.front() != L'<' && head.find(L'=') == std::wstring::npos &&
        head != L"RootDSE") {
        server = head;
        dn = slash == std::wstring::npos ? L"" : rest.substr(slash + 1);
        if (!IsValidServer(server)) return kDirectoryBadPathname;
    }
    CLdapPath parsed;
    parsed.hasProvider_ = true;
    parsed.server_ = server;
    if (uint32_t code = parsed.SetDn(dn)) return code;
    *this = parsed;
    return 0;
}

uint32_t CLdapPath::SetDn(const std::wstring& dn) {
    std::vector<std::wstring> elements;
    if (dn.empty()) {
        elements_.clear();
        return 0;
    }
    if (IsOpaqueBase(dn)) {
        elements.push_back(dn);
    } else if (!SplitDn(dn, elements)) {
        return kDirectoryBadPathname;
    }
    elements_ = std::move(elements);
    return 0;
}

std::wstring CLdapPath::Join(const std::vector<std::wstring>& elements, std::size_t first) {
    std::wstring dn;
    for (std::size_t i = first; i < elements.size(); ++i) {
        if (i > first) dn += L',';
        dn += elements[i];
    }
    return dn;
}

std::wstring CLdapPath::Dn() const {
    return kx::UnescapeAdsPathComponent(Written());
}

std::wstring CLdapPath::Written() const {
    return Join(elements_, 0);
}

uint32_t CLdapPath::Retrieve(PathFormat format, std::wstring& text) {
    if (!hasProvider_) return kDirectoryBadPathname;
    const std::wstring serverPart = server_.empty() ? L"" : server_ + L"/";
    switch (format) {
        case PathFormat::Windows:
        case PathFormat::X500:
            text = kPrefix + (elements_.empty() ? server_ : serverPart + Written());
            return 0;
        case PathFormat::WindowsNoServer:
        case PathFormat::X500NoServer:
            text = kPrefix + Written();
            return 0;
        case PathFormat::WindowsDn:
        case PathFormat::X500Dn:
            text = Written();
            return 0;
        case PathFormat::WindowsParent:
        case PathFormat::X500Parent:
            text = kPrefix + (elements_.size() < 2 ? server_ : serverPart + Join(elements_, 1));
            return 0;
        case PathFormat::Server:
            if (server_.empty()) return kDirectoryBadPathname;
            text = server_;
            return 0;
        case PathFormat::Provider:
            text = L"LDAP";
            return 0;
        case PathFormat::Leaf:
            if (elements_.empty()) return kDirectoryBadPathname;
            text = elements_.front();
            return 0;
    }
    return kDirectoryInvalidArgument;
}

uint32_t CLdapPath::RemoveLeafElement() {
    if (elements_.empty()) return kDirectoryBadPathname;
    elements_.erase(elements_.begin());
    return 0;
}

uint32_t CLdapPath::GetNumElements(long& count) {
    count = static_cast<long>(elements_.size());
    return 0;
}

uint32_t CLdapPath::GetElement(long index, std::wstring& element) {
    if (index < 0 || static_cast<std::size_t>(index) >= elements_.size())
        return kDirectoryInvalidArgument;
    element = elements_[static_cast<std::size_t>(index)];
    return 0;
}
