#pragma once
// A SASL GSSAPI bind with the Kerberos keytab of one server's settings. The
// keytab becomes a credential of this bind alone, its tickets kept in a
// memory cache of that keytab: the process environment (KRB5_CLIENT_KTNAME)
// is never touched while other threads may read it, and each server may
// have a keytab of its own.

#include <ldap.h>

#include <string>

namespace kx::platform {

// An LDAP result code; why says what failed before LDAP could say it.
int GssapiBind(LDAP* ld, const std::string& keytab, std::string& why);

}  // namespace kx::platform
