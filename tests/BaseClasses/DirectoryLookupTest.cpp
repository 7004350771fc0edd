// The directory lookups of CLookupCache and CADsPathname against a scripted
// directory: the order and form of the requests, the caching, the rebuilt
// names of deleted objects, and what a server that does not answer costs.

#include <gtest/gtest.h>

#include "BaseClasses/ADsPathname.h"
#include "BaseClasses/LogData.h"
#include "BaseClasses/LookupCache.h"
#include "FakeDirectory.h"
#include "TempDirectory.h"
#include "common/Format.h"
#include "common/ManualClock.h"
#include "platform/Process.h"

namespace {

using kx::platform::SchemaGuidType;

constexpr wchar_t kServer[] = L"dc1";
constexpr wchar_t kBase[] = L"DC=example,DC=test";
constexpr wchar_t kJaneGuid[] = L"{72EA3BB6-7116-49EA-A363-C630522C8357}";
constexpr wchar_t kLeaverGuid[] = L"{06FF356C-8E52-4D12-A459-6D587CDCED4D}";
constexpr wchar_t kInnerGuid[] = L"{6557C478-553F-45A2-AE56-2B94088CDE57}";
// 2015-03-04 05:06:07 UTC.
constexpr int64_t kTime = 1425445567;

// The "(objectGUID=...)" filter of a braced GUID.
std::wstring GuidFilter(const std::wstring& guidText) {
    kx::Guid guid;
    kx::ParseGuid(guidText, guid);
    std::wstring text;
    for (uint8_t byte : guid) text += kx::Format(L"\\%02x", byte);
    return L"(objectGUID=" + text + L")";
}

class DirectoryLookupTest : public ::testing::Test {
protected:
    DirectoryLookupTest() { SetClock(&clock_); }
    ~DirectoryLookupTest() override { SetClock(nullptr); }

    void AddRootDse() {
        directory_.AddObject(
            L"LDAP://dc1/RootDSE",
            {{L"defaultNamingContext", kBase},
             {L"configurationNamingContext", L"CN=Configuration,DC=example,DC=test"},
             {L"schemaNamingContext", L"CN=Schema,CN=Configuration,DC=example,DC=test"}});
    }

    CManualClock clock_;
    CFakeDirectory directory_;
    CLookupCache cache_;
};

TEST_F(DirectoryLookupTest, GeneralizedTimeAndTheDeletionMarker) {
    EXPECT_EQ(CLookupCache::ToGeneralizedTime(kTime), L"20150304050607.0Z");
    EXPECT_EQ(CLookupCache::CutAtDeletionMarker(L"CN=Jane\\0ADEL:72ea3bb6,CN=Deleted Objects,DC=x"),
              L"CN=Jane");
    // A real line feed follows the escape's backslash, which goes too.
    EXPECT_EQ(CLookupCache::CutAtDeletionMarker(L"CN=Jane\\\nDEL:72ea3bb6,CN=Deleted Objects,DC=x"),
              L"CN=Jane");
    EXPECT_EQ(CLookupCache::CutAtDeletionMarker(L"\nDEL:x"), L"");
    EXPECT_EQ(CLookupCache::CutAtDeletionMarker(L"CN=Jane,DC=x"), L"CN=Jane,DC=x");
}

TEST_F(DirectoryLookupTest, PathnameParentServerAndDomain) {
    CADsPathname path;
    EXPECT_EQ(path.ParentOf(L"CN=Jane,OU=Sales,DC=example,DC=com"), L"OU=Sales,DC=example,DC=com");
    EXPECT_EQ(path.ParentOf(L"not a name"), L"");
    EXPECT_EQ(path.ParentOf(L"CN=Ops/Admins,OU=Dev/Ops,DC=x"), L"OU=Dev/Ops,DC=x");

    ASSERT_TRUE(path.SetPath(L"LDAP://CN=x,OU=y,DC=example,DC=com", false));
    EXPECT_EQ(path.GetDomainFromPath(), L"example.com");
    EXPECT_EQ(path.Server(), L"");
    ASSERT_TRUE(path.SetServer(L"\\\\dc1.example.com"));
    EXPECT_EQ(path.Server(), L"dc1.example.com");
    EXPECT_EQ(path.FullPath(), L"LDAP://dc1.example.com/CN=x,OU=y,DC=example,DC=com");
    EXPECT_EQ(path.PathNoServer(), L"LDAP://CN=x,OU=y,DC=example,DC=com");

    ASSERT_TRUE(path.SetPath(L"LDAP://CN=x,dc=local", false));
    EXPECT_EQ(path.GetDomainFromPath(), L"local");
    ASSERT_TRUE(path.SetPath(L"LDAP://CN=x,OU=y", false));
    EXPECT_EQ(path.GetDomainFromPath(), L"");
    ASSERT_TRUE(path.SetPath(L"LDAP://CN=x,DC=a,OU=y,DC=b", false));
    EXPECT_EQ(path.GetDomainFromPath(), L"b");

    EXPECT_FALSE(path.SetPath(L"LDAP://dc1/DC=a,,DC=b", false));
    EXPECT_FALSE(path.IsValid());
    EXPECT_NE(path.LastResult(), 0u);
    EXPECT_EQ(path.FullPath(), L"");
    EXPECT_EQ(path.GetDn(), L"CN=x,DC=a,OU=y,DC=b") << "the path object keeps the last good path";
}

TEST_F(DirectoryLookupTest, APathWithoutServerIsGivenThePrimaryDomainController) {
    directory_.AddPrimaryDomainController(L"example.com", L"\\\\pdc.example.com");
    CADsPathname path(L"LDAP://CN=x,DC=example,DC=com", true);
    EXPECT_EQ(path.Server(), L"pdc.example.com");
    EXPECT_EQ(path.FullPath(), L"LDAP://pdc.example.com/CN=x,DC=example,DC=com");

    CADsPathname unknown(L"LDAP://CN=x,DC=example,DC=org", true);
    EXPECT_TRUE(unknown.IsValid());
    EXPECT_EQ(unknown.Server(), L"");
    EXPECT_EQ(unknown.FullPath(), L"LDAP://CN=x,DC=example,DC=org");
    EXPECT_EQ(directory_.Count(L"pdc example.org"), 1);
}

TEST_F(DirectoryLookupTest, NamingContextsAreReadOnceOrAskedAgainAfterAFailure) {
    EXPECT_EQ(cache_.GetDefaultNamingContext(kServer), L"");
    EXPECT_EQ(cache_.GetSchemaNamingContext(kServer), L"");
    EXPECT_EQ(directory_.Count(L"get LDAP://dc1/RootDSE"), 2);

    AddRootDse();
    EXPECT_EQ(cache_.GetDefaultNamingContext(kServer), kBase);
    EXPECT_EQ(cache_.GetConfigurationNamingContext(kServer),
              L"CN=Configuration,DC=example,DC=test");
    EXPECT_EQ(cache_.GetSchemaNamingContext(kServer),
              L"CN=Schema,CN=Configuration,DC=example,DC=test");
    EXPECT_EQ(directory_.Count(L"get LDAP://dc1/RootDSE"), 3);
}

TEST_F(DirectoryLookupTest, CreatedObjectsAreFoundByTheNarrowestWindowFirst) {
    directory_.AddRow(L"(whencreated>=20150304050605.0Z)(whencreated<=20150304050609.0Z)",
                      {{L"objectGUID", kJaneGuid}, {L"distinguishedName", L"CN=Jane,DC=x"}});
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime),
              std::wstring(kJaneGuid) + L"|CN=Jane,DC=x");
    const std::vector<std::wstring> expected = {
        L"open LDAP://dc1/DC=example,DC=test",
        L"preference 5=2",
        L"preference 11=1000",
        L"preference 14=0",
        L"search (&(objectCategory=person)(whencreated=20150304050607.0Z))",
        L"search (&(objectCategory=person)(whencreated>=20150304050606.0Z)"
        L"(whencreated<=20150304050608.0Z))",
        L"search (&(objectCategory=person)(whencreated>=20150304050605.0Z)"
        L"(whencreated<=20150304050609.0Z))"};
    EXPECT_EQ(directory_.Requests(), expected);
}

TEST_F(DirectoryLookupTest, TheChangePhaseFollowsAndRowsWithoutANameAreSkipped) {
    directory_.AddRow(L"(whencreated=", {{L"objectGUID", kJaneGuid}});  // no name
    directory_.AddRow(L"(whenchanged>=20150304050606.0Z)",
                      {{L"objectGUID", L"broken"}, {L"distinguishedName", L"CN=Share,DC=x"}});
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"volume", kTime), L"|CN=Share,DC=x");
    EXPECT_EQ(directory_.Count(L"search"), 5);
    EXPECT_EQ(directory_.Count(L"search (&(objectCategory=volume)(whenchanged=20150304050607.0Z))"),
              1);
}

TEST_F(DirectoryLookupTest, CreatedObjectsFailQuietly) {
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(directory_.Count(L"search"), 6);
    directory_.ClearRequests();
    directory_.searchCode = kx::platform::kDirectoryOperationsError;
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(directory_.Count(L"search"), 1);
    directory_.ClearRequests();
    directory_.openCode = 0x8007052E;
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(directory_.Count(L"search"), 0);
}

TEST_F(DirectoryLookupTest, DeletedObjectsAreSearchedInEachNamingContextsContainer) {
    AddRootDse();
    directory_.AddRow(L"(objectclass=user)(whenchanged=",
                      {{L"objectGUID", kLeaverGuid},
                       {L"distinguishedName",
                        L"CN=Leaver\\0ADEL:06ff356c-8e52-4d12-a459-6d587cdced4d,CN=Deleted "
                        L"Objects,DC=example,DC=test"}});
    EXPECT_EQ(cache_.FindDeletedObject(kServer, L"user", kTime),
              std::wstring(kLeaverGuid) + L"|CN=Leaver");
    EXPECT_EQ(directory_.Count(L"preference 15=1"), 1);
    EXPECT_EQ(directory_.Count(L"search"), 1);

    directory_.ClearRequests();
    EXPECT_EQ(cache_.FindDeletedObject(kServer, L"group", kTime), L"");
    const std::vector<std::wstring> opens = {
        L"open LDAP://dc1/<WKGUID=18e2ea80684f11d2b9aa00c04f79f805,DC=example,DC=test>",
        L"open LDAP://dc1/<WKGUID=18e2ea80684f11d2b9aa00c04f79f805,CN=Configuration,DC=example,"
        L"DC=test>",
        L"open LDAP://dc1/<WKGUID=18e2ea80684f11d2b9aa00c04f79f805,CN=Schema,CN=Configuration,"
        L"DC=example,DC=test>"};
    std::vector<std::wstring> seen;
    for (const std::wstring& request : directory_.Requests())
        if (request.rfind(L"open", 0) == 0) seen.push_back(request);
    EXPECT_EQ(seen, opens);
    EXPECT_EQ(directory_.Count(L"search"), 9);

    directory_.ClearRequests();
    directory_.openCode = kx::platform::kDirectoryNoSuchObject;
    EXPECT_EQ(cache_.FindDeletedObject(kServer, L"group", kTime), L"");
    EXPECT_EQ(directory_.Count(L"open"), 1) << "a container that cannot be bound ends the search";
}

TEST_F(DirectoryLookupTest, AFormerNameIsRebuiltThroughDeletedParents) {
    AddRootDse();
    directory_.AddRow(GuidFilter(kLeaverGuid),
                      {{L"distinguishedName",
                        L"CN=Leaver\\0ADEL:06ff356c-8e52-4d12-a459-6d587cdced4d,CN=Deleted "
                        L"Objects,DC=example,DC=test"},
                       {L"lastKnownParent",
                        L"OU=Inner\\0ADEL:6557c478-553f-45a2-ae56-2b94088cde57,CN=Deleted "
                        L"Objects,DC=example,DC=test"}});
    directory_.AddRow(GuidFilter(kInnerGuid),
                      {{L"distinguishedName",
                        L"OU=Inner\\0ADEL:6557c478-553f-45a2-ae56-2b94088cde57,CN=Deleted "
                        L"Objects,DC=example,DC=test"},
                       {L"lastKnownParent", L"OU=Outer,DC=example,DC=test"}});
    EXPECT_EQ(cache_.FindDeletedObjectByGuid(kServer, kLeaverGuid),
              L"CN=Leaver,OU=Inner,OU=Outer,DC=example,DC=test");
    EXPECT_EQ(directory_.Count(L"search"), 2);
}

TEST_F(DirectoryLookupTest, DeletedObjectsByGuidWithTheOtherMarkerAndOnFailures) {
    AddRootDse();
    directory_.AddRow(GuidFilter(kLeaverGuid),
                      {{L"distinguishedName", L"CN=Leaver\\\nDEL:06ff356c,CN=Deleted Objects,DC=x"},
                       {L"lastKnownParent", L"OU=Sales,DC=x"}});
    EXPECT_EQ(cache_.FindDeletedObjectByGuid(kServer, kLeaverGuid), L"CN=Leaver,OU=Sales,DC=x");
    EXPECT_EQ(cache_.FindDeletedObjectByGuid(kServer, kJaneGuid), L"");
    EXPECT_EQ(directory_.Count(std::wstring(L"search ") + GuidFilter(kJaneGuid)), 3);

    directory_.searchCode = kx::platform::kDirectoryOperationsError;
    EXPECT_EQ(cache_.FindDeletedObjectByGuid(kServer, kJaneGuid), kJaneGuid);
    directory_.searchCode = 0;
    directory_.encodeCode = kx::platform::kDirectoryNotImplemented;
    EXPECT_EQ(cache_.FindDeletedObjectByGuid(kServer, kLeaverGuid), L"");
}

TEST_F(DirectoryLookupTest, AParentThatIsGoneOrACycleEndsTheRebuilding) {
    AddRootDse();
    // The parent's tombstone was collected: its GUID finds nothing.
    directory_.AddRow(GuidFilter(kLeaverGuid),
                      {{L"distinguishedName", L"CN=Leaver\\0ADEL:x,CN=Deleted Objects,DC=x"},
                       {L"lastKnownParent",
                        L"OU=Inner\\0ADEL:6557c478-553f-45a2-ae56-2b94088cde57,CN=Deleted "
                        L"Objects,DC=x"}});
    EXPECT_EQ(cache_.FindDeletedObjectByGuid(kServer, kLeaverGuid),
              L"CN=Leaver,OU=Inner\\0ADEL:6557c478-553f-45a2-ae56-2b94088cde57,CN=Deleted "
              L"Objects,DC=x");
    EXPECT_EQ(directory_.Count(std::wstring(L"search ") + GuidFilter(kInnerGuid)), 3);

    // A parent that names itself as its own parent.
    directory_.AddRow(GuidFilter(kInnerGuid),
                      {{L"distinguishedName", L"OU=Inner\\0ADEL:x,CN=Deleted Objects,DC=x"},
                       {L"lastKnownParent",
                        L"OU=Inner\\0ADEL:6557c478-553f-45a2-ae56-2b94088cde57,CN=Deleted "
                        L"Objects,DC=x"}});
    directory_.ClearRequests();
    cache_.FindDeletedObjectByGuid(kServer, kLeaverGuid);
    EXPECT_LE(directory_.Count(L"search"), 20);
}

TEST_F(DirectoryLookupTest, GuidNamesAreCachedExceptForLiveObjects) {
    const std::wstring member = L"{bf9679c0-0de6-11d0-a285-00aa003049e2}";
    directory_.AddSchemaGuid(member, SchemaGuidType::Attribute, L"member");
    directory_.AddCrackedName(kJaneGuid, L"CN=Jane Doe,OU=Sales,DC=example,DC=test");
    directory_.AddCrackedName(kLeaverGuid, L"CN=Leaver\\0ADEL:06ff,CN=Deleted Objects,DC=x");
    const std::wstring unknown = L"{00000000-1111-2222-3333-444444444444}";
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(cache_.GuidToName(kServer, member), L"member");
        EXPECT_EQ(cache_.GuidToName(kServer, kJaneGuid),
                  L"cn=jane doe,ou=sales,dc=example,dc=test");
        EXPECT_EQ(cache_.GuidToName(kServer, kLeaverGuid),
                  L"CN=Leaver\\0ADEL:06ff,CN=Deleted Objects,DC=x");
        EXPECT_EQ(cache_.GuidToName(kServer, unknown), unknown);
    }
    EXPECT_EQ(directory_.Count(L"bind"), 1);
    EXPECT_EQ(directory_.Count(L"map"), 4) << "a live object is not a schema GUID the second time";
    EXPECT_EQ(directory_.Count(std::wstring(L"crack ") + kJaneGuid), 2);
    EXPECT_EQ(directory_.Count(L"crack"), 4);
}

TEST_F(DirectoryLookupTest, ANameIsNotKeptWhileTheDirectoryCannotBeReached) {
    const std::wstring member = L"{bf9679c0-0de6-11d0-a285-00aa003049e2}";
    directory_.AddSchemaGuid(member, SchemaGuidType::Attribute, L"member");
    directory_.bindCode = kx::platform::kErrorDsServerDown;
    EXPECT_EQ(cache_.GuidToName(kServer, member), member);
    EXPECT_EQ(cache_.SidToDn(kServer, L"S-1-5-21-1-2-3-1102"), L"");
    EXPECT_EQ(directory_.Count(L"bind"), 1) << "a server that did not answer is skipped a while";
    clock_.Advance(CLookupCache::kUnreachableSkipMilliseconds);
    directory_.bindCode = 0;
    EXPECT_EQ(cache_.GuidToName(kServer, member), L"member");
    EXPECT_EQ(directory_.Count(L"bind"), 2);
}

TEST_F(DirectoryLookupTest, ABoundServerThatStopsAnsweringPoisonsNoName) {
    directory_.AddCrackedName(kJaneGuid, L"CN=Jane,DC=x");
    ASSERT_EQ(cache_.GuidToName(kServer, kJaneGuid), L"cn=jane,dc=x");
    directory_.namesCode = kx::platform::kErrorDsServerDown;
    EXPECT_EQ(cache_.GuidToName(kServer, kLeaverGuid), kLeaverGuid);
    EXPECT_EQ(cache_.GuidToName(kServer, kJaneGuid), kJaneGuid);
    EXPECT_EQ(cache_.SidToDn(kServer, L"S-1-5-21-1-2-3-1102"), L"");
    EXPECT_EQ(directory_.Count(L"crack") + directory_.Count(L"map"), 3)
        << "one failed call, then the server is skipped";
    clock_.Advance(CLookupCache::kUnreachableSkipMilliseconds);
    directory_.namesCode = 0;
    directory_.AddCrackedName(kLeaverGuid, L"CN=Leaver\\0ADEL:x,CN=Deleted Objects,DC=x");
    EXPECT_EQ(cache_.GuidToName(kServer, kLeaverGuid),
              L"CN=Leaver\\0ADEL:x,CN=Deleted Objects,DC=x");
    EXPECT_EQ(cache_.GuidToName(kServer, kJaneGuid), L"cn=jane,dc=x");
}

TEST_F(DirectoryLookupTest, AnUnreachableServerIsSkippedByEveryLookup) {
    directory_.openCode = kx::platform::kDirectoryTimeout;
    directory_.objectCode = kx::platform::kDirectoryServerDown;
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(cache_.GetDisplayName(kServer, L"CN=x"), L"CN=x");
    EXPECT_EQ(cache_.FindDeletedObject(kServer, L"user", kTime), L"");
    EXPECT_EQ(directory_.Requests().size(), 1u);
    // Another server is asked as usual; an answer (no such base) is no reason
    // to skip.
    directory_.openCode = kx::platform::kDirectoryNoSuchObject;
    EXPECT_EQ(cache_.FindCreatedObject(L"dc2", kBase, L"person", kTime), L"");
    EXPECT_EQ(cache_.FindCreatedObject(L"dc2", kBase, L"person", kTime), L"");
    EXPECT_EQ(directory_.Count(L"open LDAP://dc2/"), 2);
}

// Lookups stay empty while the directory refuses the bind; the log says why
// once per server and hold-off period, and nothing when the directory only
// found nothing.
TEST_F(DirectoryLookupTest, AFailedBindIsLoggedOncePerServerAndHoldOff) {
    CTempDirectory folder;
    kx::platform::SetExecutablePathForTesting(folder.Join(L"KXWkstnSvc.exe"));
    ASSERT_TRUE(InitDiagnosticLog(kLogWarning));
    directory_.bindFailure = L"ldap://dc1 (simple bind as x): Invalid credentials (49)";
    directory_.openCode = kx::platform::kDirectoryInvalidCredentials;
    directory_.objectCode = kx::platform::kDirectoryInvalidCredentials;
    for (int call = 0; call < 3; ++call)
        EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(cache_.GetDefaultNamingContext(kServer), L"");
    cache_.FindCreatedObject(L"dc2", kBase, L"person", kTime);
    clock_.Advance(CLookupCache::kUnreachableSkipMilliseconds - 1);
    cache_.GetDefaultNamingContext(kServer);
    clock_.Advance(1);
    cache_.GetDefaultNamingContext(kServer);
    directory_.openCode = kx::platform::kDirectoryNoSuchObject;
    clock_.Advance(CLookupCache::kUnreachableSkipMilliseconds);
    cache_.FindCreatedObject(L"dc3", kBase, L"person", kTime);
    CloseDiagnosticLog();
    kx::platform::SetExecutablePathForTesting(L"");

    const std::string log = ReadFileBytes(folder.Path() / "BWAgentSvc.log");
    auto count = [&log](const std::string& text) {
        int found = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        return found;
    };
    EXPECT_EQ(count("**Warning:  The directory of dc1 cannot be reached or bound: ldap://dc1 "
                    "(simple bind as x): Invalid credentials (49) \r\n"),
              2)
        << log;
    EXPECT_EQ(count("The directory of dc2 cannot be reached or bound"), 1) << log;
    EXPECT_EQ(count("cannot be reached or bound"), 3) << log;
}

// A directory that refuses the bind (no keytab, wrong credentials) costs one
// bind per hold-off, not one per lookup; one that answers a search with an
// error is asked again at every call.
TEST_F(DirectoryLookupTest, ARefusedBindIsTriedOncePerHoldOff) {
    const std::wstring sid = L"S-1-5-21-1-2-3-1102";
    directory_.bindFailure = L"dc1 (DsBindW with the service's credentials): Logon failure (1326)";
    directory_.bindCode = 1326;  // ERROR_LOGON_FAILURE
    EXPECT_EQ(cache_.SidToDn(kServer, sid), L"");
    clock_.Advance(CLookupCache::kUnreachableSkipMilliseconds - 1);
    EXPECT_EQ(cache_.SidToDn(kServer, sid), L"");
    EXPECT_EQ(cache_.GuidToName(kServer, kJaneGuid), kJaneGuid);
    EXPECT_EQ(directory_.Count(L"bind"), 1);
    clock_.Advance(1);
    directory_.bindCode = 0;
    directory_.AddCrackedName(sid, L"CN=Jane,DC=x");
    EXPECT_EQ(cache_.SidToDn(kServer, sid), L"CN=Jane,DC=x");
    EXPECT_EQ(directory_.Count(L"bind"), 2);

    directory_.searchCode = kx::platform::kDirectoryOperationsError;
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(cache_.FindCreatedObject(kServer, kBase, L"person", kTime), L"");
    EXPECT_EQ(directory_.Count(L"search"), 2);
}

TEST_F(DirectoryLookupTest, SidsAndDisplayNames) {
    directory_.AddCrackedName(L"S-1-5-21-1-2-3-1102", L"CN=Jane Doe,OU=Sales,DC=example,DC=test");
    EXPECT_EQ(cache_.SidToDn(kServer, L"S-1-5-21-1-2-3-1102"),
              L"CN=Jane Doe,OU=Sales,DC=example,DC=test");
    EXPECT_EQ(cache_.SidToDn(kServer, L"S-1-5-21-1-2-3-9999"), L"");

    const std::wstring gpo = L"CN={5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10},CN=Policies,DC=x";
    directory_.AddObject(L"LDAP://dc1/" + gpo,
                         {{L"displayName", L"Audit Workstations"},
                          {L"name", L"{5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}"}});
    directory_.AddObject(L"LDAP://dc1/OU=Sales,DC=x", {{L"name", L"Sales"}});
    EXPECT_EQ(cache_.GetDisplayName(kServer, gpo),
              L"Audit Workstations {5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}");
    EXPECT_EQ(cache_.GetDisplayName(kServer, L"LDAP://" + gpo),
              L"Audit Workstations {5B0E6A52-2F7A-4A3E-9C1D-7E3B2A9C4D10}");
    EXPECT_EQ(cache_.GetDisplayName(kServer, L"ldap://" + gpo), L"ldap://" + gpo);
    EXPECT_EQ(directory_.Count(L"get LDAP://dc1/CN={5B0E6A52"), 2);
    EXPECT_EQ(directory_.Count(L"get ldap://dc1/CN={5B0E6A52"), 1);
    EXPECT_EQ(cache_.GetDisplayName(kServer, L"OU=Sales,DC=x"), L"OU=Sales,DC=x Sales");
    EXPECT_EQ(cache_.GetDisplayName(kServer, L"OU=Gone,DC=x"), L"OU=Gone,DC=x");
}

}  // namespace
