#pragma once
// Text from records on its way into LDAP syntax. A record's string is data:
// a class name must stay one filter value, a distinguished name one path
// component, whatever characters they hold.

#include <string>

namespace kx {

// A value as it stands in a search filter (RFC 4515): "*", "(", ")", "\"
// and NUL become "\2a", "\28", "\29", "\5c" and "\00".
std::wstring EscapeLdapFilterValue(const std::wstring& value);

// Whether text is a distinguished name as RFC 4514 writes one: attribute
// type "=" value, joined by "," (and "+" within one RDN), the value's
// special characters escaped. "<GUID=...>" bases and "RootDSE" are not.
bool IsDistinguishedName(const std::wstring& text);

// A distinguished name as one component of an ADsPath, where "/" separates
// server and name: every "/" outside an escape becomes "\/".
std::wstring EscapeAdsPathComponent(const std::wstring& dn);
// The name again as the directory writes it: "\/" back to "/".
std::wstring UnescapeAdsPathComponent(const std::wstring& component);

}  // namespace kx
