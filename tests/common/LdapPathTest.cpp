#include <gtest/gtest.h>

#include "common/Guid.h"
#include "common/LdapEscape.h"
#include "common/LdapPath.h"

namespace {

using kx::platform::PathFormat;
using kx::platform::PathSetType;

std::wstring Retrieved(CLdapPath& path, PathFormat format) {
    std::wstring text;
    return path.Retrieve(format, text) == 0 ? text : L"<failed>";
}

TEST(LdapPath, ServerAndDistinguishedNameAreTakenApart) {
    CLdapPath path;
    ASSERT_EQ(
        path.Set(L"LDAP://dc1.example.test/CN=Jane,OU=Sales,DC=example,DC=test", PathSetType::Full),
        0u);
    EXPECT_EQ(Retrieved(path, PathFormat::Server), L"dc1.example.test");
    EXPECT_EQ(Retrieved(path, PathFormat::X500Dn), L"CN=Jane,OU=Sales,DC=example,DC=test");
    EXPECT_EQ(Retrieved(path, PathFormat::X500NoServer),
              L"LDAP://CN=Jane,OU=Sales,DC=example,DC=test");
    EXPECT_EQ(Retrieved(path, PathFormat::X500),
              L"LDAP://dc1.example.test/CN=Jane,OU=Sales,DC=example,DC=test");
    EXPECT_EQ(Retrieved(path, PathFormat::Leaf), L"CN=Jane");
}

TEST(LdapPath, PathsWithoutServerAndSpecialBases) {
    CLdapPath path;
    ASSERT_EQ(path.Set(L"LDAP://OU=Sales,DC=example,DC=test", PathSetType::Full), 0u);
    EXPECT_EQ(Retrieved(path, PathFormat::Server), L"<failed>");
    EXPECT_EQ(Retrieved(path, PathFormat::X500Dn), L"OU=Sales,DC=example,DC=test");

    const std::wstring wellKnown = L"<WKGUID=18e2ea80684f11d2b9aa00c04f79f805,DC=example,DC=test>";
    ASSERT_EQ(path.Set(L"LDAP://127.0.0.1/" + wellKnown, PathSetType::Full), 0u);
    EXPECT_EQ(path.Server(), L"127.0.0.1");
    EXPECT_EQ(path.Dn(), wellKnown);
    long count = 0;
    path.GetNumElements(count);
    EXPECT_EQ(count, 1);

    ASSERT_EQ(path.Set(L"LDAP://<GUID=72ea3bb6-7116-49ea-a363-c630522c8357>", PathSetType::Full),
              0u);
    EXPECT_EQ(path.Server(), L"");
    ASSERT_EQ(path.Set(L"LDAP://dc1:389/RootDSE", PathSetType::Full), 0u);
    EXPECT_EQ(path.Server(), L"dc1:389");
    EXPECT_EQ(path.Dn(), L"RootDSE");
}

TEST(LdapPath, EscapesStayAsWrittenAndDoNotSplit) {
    CLdapPath path;
    const std::wstring dn =
        L"CN=Leaver\\0ADEL:06ff356c-8e52-4d12-a459-6d587cdced4d,CN=Deleted "
        L"Objects,DC=example,DC=test";
    ASSERT_EQ(path.Set(L"LDAP://dc1/" + dn, PathSetType::Full), 0u);
    EXPECT_EQ(path.Dn(), dn);
    ASSERT_EQ(path.Set(L"LDAP://dc1/CN=Doe\\, Jane,OU=Sales,DC=x", PathSetType::Full), 0u);
    long count = 0;
    path.GetNumElements(count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Retrieved(path, PathFormat::Leaf), L"CN=Doe\\, Jane");
    ASSERT_EQ(path.RemoveLeafElement(), 0u);
    EXPECT_EQ(path.Dn(), L"OU=Sales,DC=x");
}

TEST(LdapPath, MalformedPathsAreRefusedAndChangeNothing) {
    CLdapPath path;
    ASSERT_EQ(path.Set(L"LDAP://dc1/DC=x", PathSetType::Full), 0u);
    for (const wchar_t* bad : {L"ldap://dc1/DC=x", L"LDAP://dc1/DC=x,,DC=y", L"LDAP://dc1/noequals",
                               L"LDAP://dc1/CN=a\\", L"http://dc1/DC=x", L""}) {
        EXPECT_NE(path.Set(bad, PathSetType::Full), 0u) << bad;
    }
    EXPECT_EQ(path.Dn(), L"DC=x");
    EXPECT_NE(path.Set(L"a/b", PathSetType::Server), 0u);
    CLdapPath empty;
    EXPECT_NE(empty.RemoveLeafElement(), 0u);
    std::wstring element;
    EXPECT_NE(path.GetElement(1, element), 0u);
    EXPECT_NE(path.GetElement(-1, element), 0u);
}

TEST(LdapPath, AnEscapedSlashBelongsToTheName) {
    CLdapPath path;
    ASSERT_EQ(path.Set(L"LDAP://dc1/CN=Ops\\/Admins,OU=Dev\\/Ops,DC=x", PathSetType::Full), 0u);
    EXPECT_EQ(path.Server(), L"dc1");
    EXPECT_EQ(path.Dn(), L"CN=Ops/Admins,OU=Dev/Ops,DC=x") << "the directory's own spelling";
    EXPECT_EQ(Retrieved(path, PathFormat::X500Dn), L"CN=Ops\\/Admins,OU=Dev\\/Ops,DC=x");
    ASSERT_EQ(path.Set(L"LDAP://CN=a\\/b,DC=x", PathSetType::Full), 0u);
    EXPECT_EQ(path.Server(), L"");
    EXPECT_EQ(path.Dn(), L"CN=a/b,DC=x");
}

// Record strings on their way into filters and paths.
TEST(LdapEscape, RecordTextStaysOneValueOrOneName) {
    EXPECT_EQ(kx::EscapeLdapFilterValue(L"*)(objectCategory=person"),
              L"\\2a\\29\\28objectCategory=person");
    EXPECT_EQ(kx::EscapeLdapFilterValue(std::wstring(L"a\\b\0c", 5)), L"a\\5cb\\00c");
    EXPECT_EQ(kx::EscapeLdapFilterValue(L"groupPolicyContainer"), L"groupPolicyContainer");

    for (const wchar_t* dn :
         {L"CN=Jane Doe,OU=Sales,DC=example,DC=test", L"CN=Doe\\, Jane,DC=x",
          L"CN=Leaver\\0ADEL:06ff356c-8e52-4d12-a459-6d587cdced4d,CN=Deleted Objects,DC=x",
          L"CN=Ops/Admins,OU=Dev/Ops,DC=x", L"CN=a+UID=b,DC=x", L"2.5.4.3=x,dc=y",
          L"CN=\\#1\\ ,DC=x", L"CN=#04024869,DC=x", L"CN=,DC=x", L"CN=J\u00fcrgen,DC=x",
          L"CN=a=b\\=c,DC=x", L"CN={5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10},CN=Policies,DC=x",
          L"msDS-x=1"})
        EXPECT_TRUE(kx::IsDistinguishedName(dn)) << dn;
    for (const wchar_t* text :
         {L"", L"RootDSE", L"<GUID=72ea3bb6-7116-49ea-a363-c630522c8357>",
          L"<WKGUID=18e2ea80684f11d2b9aa00c04f79f805,DC=x>", L"DC=x,", L"CN=a,,DC=x", L"not a name",
          L"CN=a\\", L"CN=a\\q,DC=x", L"CN= a,DC=x", L"CN=a ,DC=x", L"CN=a\"b,DC=x", L"CN=a;b,DC=x",
          L"CN=<a>,DC=x", L"C N=x", L"1..2=x", L"CN=#zz", L"evil.example/CN=x,DC=y", L"-CN=x"})
        EXPECT_FALSE(kx::IsDistinguishedName(text)) << text;

    EXPECT_EQ(kx::EscapeAdsPathComponent(L"CN=a/b\\,c,DC=x"), L"CN=a\\/b\\,c,DC=x");
    EXPECT_EQ(kx::UnescapeAdsPathComponent(L"CN=a\\/b\\,c,DC=x"), L"CN=a/b\\,c,DC=x");
}

TEST(Guid, RegistryTextRoundTripsThroughTheBytesInMemory) {
    kx::Guid guid;
    ASSERT_TRUE(kx::ParseGuid(L"{bf967aba-0de6-11d0-a285-00aa003049e2}", guid));
    EXPECT_EQ(guid[0], 0xBA);  // the first group is little-endian in memory
    EXPECT_EQ(guid[4], 0xE6);
    EXPECT_EQ(guid[8], 0xA2);
    EXPECT_EQ(kx::FormatGuid(guid), L"{BF967ABA-0DE6-11D0-A285-00AA003049E2}");
    for (const wchar_t* bad :
         {L"bf967aba-0de6-11d0-a285-00aa003049e2", L"{bf967aba-0de6-11d0-a285-00aa003049eg}",
          L"{bf967aba+0de6-11d0-a285-00aa003049e2}", L"{}"}) {
        EXPECT_FALSE(kx::ParseGuid(bad, guid)) << bad;
        EXPECT_EQ(kx::FormatGuid(guid), L"{00000000-0000-0000-0000-000000000000}");
    }
}

}  // namespace
