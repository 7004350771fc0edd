// The directory half of CLookupCache: binds and naming contexts, the
// time-window and tombstone finders, and the GUID, SID and display names.

#include <vector>

#include "BaseClasses/LogData.h"
#include "BaseClasses/LookupCache.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/LdapEscape.h"
#include "common/Text.h"

using kx::platform::GetDirectory;
using kx::platform::IDirectoryNames;
using kx::platform::IDirectoryObject;
using kx::platform::IDirectorySearch;
using kx::platform::NameFormat;
using kx::platform::SchemaGuidType;
using kx::platform::SearchPreference;
using kx::platform::SearchPreferenceKind;

namespace {

constexpr wchar_t kSourceFile[] = L"..\\BaseClasses\\LookupCacheDirectory.cpp";
constexpr wchar_t kDeletedObjectsPath[] = L"LDAP://%s/<WKGUID=%s,%s>";
constexpr wchar_t kDeletedObjectsContainer[] = L"18e2ea80684f11d2b9aa00c04f79f805";
constexpr wchar_t kLiveObject[] = L"**ADObject";
constexpr wchar_t kMarker[] = L"\\0A";
constexpr std::size_t kMarkerGuidOffset = 7;  // "\0ADEL:"
constexpr std::size_t kGuidLength = 36;
constexpr uint32_t kPageSize = 1000;
constexpr int kTries = 3;
// A chain of deleted parents longer than this is not followed further.
constexpr int kMaxDeletedParents = 16;

// Answers that mean nobody answered, as opposed to a directory that said no.
bool IsUnreachable(uint32_t code) {
    switch (code) {
        case kx::platform::kDirectoryServerDown:
        case kx::platform::kDirectoryTimeout:
        case kx::platform::kErrorDsServerDown:
        case kx::platform::kErrorTimeout:
        case 1722:        // RPC_S_SERVER_UNAVAILABLE, DsBindW's answer
        case 0x800706BA:  // the same as an HRESULT
            return true;
        default:
            return false;
    }
}

std::vector<SearchPreference> Preferences(bool tombstones) {
    std::vector<SearchPreference> preferences = {
        {SearchPreferenceKind::SearchScope, kx::platform::kScopeSubtree}};
    if (tombstones) preferences.push_back({SearchPreferenceKind::Tombstone, 1});
    preferences.push_back({SearchPreferenceKind::PageSize, kPageSize});
    preferences.push_back({SearchPreferenceKind::CacheResults, 0});
    return preferences;
}

// The class comes from the record: escaped, it stays one value of the filter.
std::wstring WindowFilter(const wchar_t* classAttribute, const wchar_t* timeAttribute,
                          const std::wstring& objectClass, int64_t time, int tryNumber) {
    const std::wstring value = kx::EscapeLdapFilterValue(objectClass);
    if (tryNumber == 0) {
        return kx::Format(L"(&(%s=%s)(%s=%s))", classAttribute, value, timeAttribute,
                          CLookupCache::ToGeneralizedTime(time));
    }
    return kx::Format(L"(&(%s=%s)(%s>=%s)(%s<=%s))", classAttribute, value, timeAttribute,
                      CLookupCache::ToGeneralizedTime(time - tryNumber), timeAttribute,
                      CLookupCache::ToGeneralizedTime(time + tryNumber));
}

// "LDAP://server/dn" with the name as one path component.
std::wstring PathOf(const std::wstring& server, const std::wstring& dn) {
    return kx::Format(L"LDAP://%s/%s", server, kx::EscapeAdsPathComponent(dn));
}

std::wstring DeletedObjectsPath(const std::wstring& server, const std::wstring& context) {
    return kx::Format(kDeletedObjectsPath, server, kDeletedObjectsContainer,
                      kx::EscapeAdsPathComponent(context));
}

std::wstring GuidColumn(IDirectorySearch& search) {
    std::vector<uint8_t> bytes;
    if (search.GetOctetColumn(L"objectGUID", bytes) != 0 || bytes.size() != 16) return L"";
    kx::Guid guid;
    std::copy(bytes.begin(), bytes.end(), guid.begin());
    return kx::FormatGuid(guid);
}

}  // namespace

std::wstring CLookupCache::ToGeneralizedTime(int64_t utcSeconds) {
    const kx::SystemTime t = kx::UnixMillisecondsToSystemTime(utcSeconds * 1000);
    return kx::Format(L"%04u%02u%02u%02u%02u%02u.0Z", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
}

std::wstring CLookupCache::CutAtDeletionMarker(const std::wstring& dn) {
    const std::size_t lineFeed = dn.find(L'\n');
    // The character before a real line feed is the escape's backslash.
    if (lineFeed != std::wstring::npos) return dn.substr(0, lineFeed == 0 ? 0 : lineFeed - 1);
    const std::size_t marker = dn.find(kMarker);
    return marker == std::wstring::npos ? dn : dn.substr(0, marker);
}

bool CLookupCache::Skipped(const std::wstring& server) {
    auto found = heldOffSince_.find(server);
    if (found == heldOffSince_.end()) return false;
    if (TicksSince(GetClock().GetTickCount(), found->second) < kUnreachableSkipMilliseconds)
        return true;
    heldOffSince_.erase(found);
    return false;
}

uint32_t CLookupCache::Noted(const std::wstring& server, const std::wstring& target,
                             uint32_t code) {
    if (code == 0) return 0;
    const std::wstring why = GetDirectory().DescribeBindFailure(target, code);
    // A directory that cannot be bound (no keytab, wrong credentials) fails
    // the same way at the next lookup: asking again at once would cost a
    // connection and a bind for every record that names an account.
    if (IsUnreachable(code) || !why.empty()) heldOffSince_[server] = GetClock().GetTickCount();
    if (!why.empty()) ReportBindFailure(server, why);
    return code;
}

void CLookupCache::ReportBindFailure(const std::wstring& server, const std::wstring& why) {
    const uint32_t now = GetClock().GetTickCount();
    auto reported = bindFailureReported_.find(server);
    if (reported != bindFailureReported_.end() &&
        TicksSince(now, reported->second) < kUnreachableSkipMilliseconds)
        return;
    bindFailureReported_[server] = now;
    CLogData record(kSourceFile, __LINE__);
    record.LogAt(kLogWarning, L"The directory of %s cannot be reached or bound: %s", server, why);
}

std::shared_ptr<IDirectoryNames> CLookupCache::GetDsHandle(const std::wstring& server) {
    if (auto found = dsHandles_.find(server); found != dsHandles_.end()) return found->second;
    if (Skipped(server)) return nullptr;
    std::shared_ptr<IDirectoryNames> handle;
    if (Noted(server, server, GetDirectory().Bind(server, handle)) != 0 || !handle) return nullptr;
    dsHandles_[server] = handle;
    return handle;
}

void CLookupCache::LoadNamingContexts(const std::wstring& server) {
    if (Skipped(server)) return;
    std::unique_ptr<IDirectoryObject> rootDse;
    const std::wstring path = kx::Format(L"LDAP://%s/RootDSE", server);
    if (Noted(server, path, GetDirectory().GetObject(path, rootDse)) != 0 || !rootDse) return;
    NamingContexts contexts;
    if (rootDse->Get(L"defaultNamingContext", contexts.defaultContext) != 0)
        contexts.defaultContext.clear();
    if (rootDse->Get(L"configurationNamingContext", contexts.configuration) != 0)
        contexts.configuration.clear();
    if (rootDse->Get(L"schemaNamingContext", contexts.schema) != 0) contexts.schema.clear();
    namingContexts_[server] = contexts;
}

const CLookupCache::NamingContexts* CLookupCache::FindNamingContexts(const std::wstring& server) {
    auto found = namingContexts_.find(server);
    if (found == namingContexts_.end()) {
        LoadNamingContexts(server);
        found = namingContexts_.find(server);
    }
    return found == namingContexts_.end() ? nullptr : &found->second;
}

std::wstring CLookupCache::GetDefaultNamingContext(const std::wstring& server) {
    const NamingContexts* contexts = FindNamingContexts(server);
    return contexts ? contexts->defaultContext : L"";
}

std::wstring CLookupCache::GetConfigurationNamingContext(const std::wstring& server) {
    const NamingContexts* contexts = FindNamingContexts(server);
    return contexts ? contexts->configuration : L"";
}

std::wstring CLookupCache::GetSchemaNamingContext(const std::wstring& server) {
    const NamingContexts* contexts = FindNamingContexts(server);
    return contexts ? contexts->schema : L"";
}

uint32_t CLookupCache::OpenSearch(const std::wstring& server, const std::wstring& path,
                                  bool tombstones, std::unique_ptr<IDirectorySearch>& search) {
    if (Skipped(server)) return kx::platform::kDirectoryServerDown;
    if (uint32_t code = Noted(server, path, GetDirectory().OpenSearch(path, search))) return code;
    if (!search) return kx::platform::kDirectoryNotImplemented;
    if (uint32_t code = search->SetSearchPreference(Preferences(tombstones))) {
        search.reset();
        return code;
    }
    return 0;
}

std::wstring CLookupCache::FindInWindow(IDirectorySearch& search, const std::wstring& objectClass,
                                        int64_t time, const wchar_t* classAttribute,
                                        const wchar_t* timeAttribute, bool cutAtMarker,
                                        bool* failed) {
    *failed = false;
    for (int i = 0; i < kTries; ++i) {
        const std::wstring filter =
            WindowFilter(classAttribute, timeAttribute, objectClass, time, i);
        if (search.ExecuteSearch(filter, {timeAttribute, L"distinguishedname", L"objectGUID"}) !=
            0) {
            *failed = true;
            return L"";
        }
        std::wstring answer;
        std::wstring dn;
        if (search.GetNextRow() == 0 && search.GetStringColumn(L"distinguishedName", dn) == 0)
            answer = GuidColumn(search) + L"|" + (cutAtMarker ? CutAtDeletionMarker(dn) : dn);
        search.CloseSearchHandle();
        if (!answer.empty()) return answer;
    }
    return L"";
}

std::wstring CLookupCache::FindCreatedObject(const std::wstring& server, const std::wstring& base,
                                             const std::wstring& objectClass, int64_t time) {
    // The base comes from the record: only a distinguished name becomes a path.
    if (!kx::IsDistinguishedName(base)) return L"";
    std::unique_ptr<IDirectorySearch> search;
    if (OpenSearch(server, PathOf(server, base), false, search) != 0) return L"";
    bool failed = false;
    std::wstring answer =
        FindInWindow(*search, objectClass, time, L"objectCategory", L"whencreated", false, &failed);
    if (answer.empty() && !failed) {
        answer = FindInWindow(*search, objectClass, time, L"objectCategory", L"whenchanged", false,
                              &failed);
    }
    return answer;
}

std::wstring CLookupCache::FindDeletedObject(const std::wstring& server,
                                             const std::wstring& objectClass, int64_t time) {
    const std::wstring contexts[] = {GetDefaultNamingContext(server),
                                     GetConfigurationNamingContext(server),
                                     GetSchemaNamingContext(server)};
    std::wstring answer;
    for (const std::wstring& context : contexts) {
        if (!answer.empty()) break;
        std::unique_ptr<IDirectorySearch> search;
        if (OpenSearch(server, DeletedObjectsPath(server, context), true, search) != 0) break;
        bool failed = false;
        answer =
            FindInWindow(*search, objectClass, time, L"objectclass", L"whenchanged", true, &failed);
    }
    return answer;
}

int CLookupCache::SearchDeletedByGuid(const std::wstring& server, const std::wstring& context,
                                      const kx::Guid& guid, std::wstring& outputName) {
    std::unique_ptr<IDirectorySearch> search;
    if (OpenSearch(server, DeletedObjectsPath(server, context), true, search) != 0) return 2;
    std::wstring encoded;
    if (GetDirectory().EncodeBinaryData(std::vector<uint8_t>(guid.begin(), guid.end()), encoded) !=
        0)
        return 2;
    if (search->ExecuteSearch(
            kx::Format(L"(objectGUID=%s)", encoded),
            {L"distinguishedName", L"objectClass", L"objectGUID", L"lastKnownParent"}) != 0)
        return 3;
    bool found = false;
    while (search->GetNextRow() == 0) {
        std::wstring dn;
        if (search->GetStringColumn(L"distinguishedName", dn) != 0) continue;
        found = true;
        const std::size_t lineFeed = dn.find(L'\n');
        if (lineFeed != std::wstring::npos)
            outputName = dn.substr(0, lineFeed == 0 ? 0 : lineFeed - 1);
        else if (outputName.empty())
            outputName = CutAtDeletionMarker(dn);
        else
            outputName = outputName.substr(0, outputName.find(kMarker));
        std::wstring parent;
        if (search->GetStringColumn(L"lastKnownParent", parent) == 0 && !parent.empty())
            outputName += L"," + parent;
    }
    search->CloseSearchHandle();
    return found ? 0 : 1;
}

std::wstring CLookupCache::FindDeletedByGuid(const std::wstring& server,
                                             const std::wstring& guidText, std::wstring& outputName,
                                             int depth) {
    kx::Guid guid;
    kx::ParseGuid(guidText, guid);
    const std::wstring contexts[] = {GetDefaultNamingContext(server),
                                     GetConfigurationNamingContext(server),
                                     GetSchemaNamingContext(server)};
    int outcome = 1;
    for (const std::wstring& context : contexts) {
        outcome = SearchDeletedByGuid(server, context, guid, outputName);
        if (outcome != 1) break;
    }
    if (outcome == 2) return outputName;
    if (outcome == 3) return guidText;
    const std::size_t marker = outputName.find(kMarker);
    // Only a step that found the parent may look for the parent's parent:
    // a parent that is gone for good would otherwise be asked for forever.
    // A marker without the whole GUID after it names no parent to look for.
    if (outcome == 0 && marker != std::wstring::npos &&
        outputName.size() >= marker + kMarkerGuidOffset + kGuidLength &&
        depth < kMaxDeletedParents) {
        const std::wstring parentGuid =
            L"{" + outputName.substr(marker + kMarkerGuidOffset, kGuidLength) + L"}";
        return FindDeletedByGuid(server, parentGuid, outputName, depth + 1);
    }
    return outputName;
}

std::wstring CLookupCache::FindDeletedObjectByGuid(const std::wstring& server,
                                                   const std::wstring& guidText) {
    std::wstring outputName;
    return FindDeletedByGuid(server, guidText, outputName, 0);
}

std::wstring CLookupCache::NameOfGuid(const std::wstring& server, IDirectoryNames& handle,
                                      const std::wstring& guidText, bool schemaToo, bool* reached) {
    *reached = true;
    if (schemaToo) {
        kx::Guid guid;
        kx::ParseGuid(guidText, guid);
        SchemaGuidType type = SchemaGuidType::NotFound;
        std::wstring name;
        const uint32_t code = Noted(server, server, handle.MapSchemaGuid(guid, type, name));
        if (IsUnreachable(code)) {
            *reached = false;
            return L"";
        }
        if (code == 0 && type != SchemaGuidType::NotFound && !name.empty()) {
            guidNames_.Put(guidText, name);
            return name;
        }
    }
    uint32_t status = kx::platform::kNameNotFound;
    std::wstring dn;
    const uint32_t code =
        Noted(server, server,
              handle.CrackName(NameFormat::UniqueId, NameFormat::Fqdn1779, guidText, status, dn));
    *reached = !IsUnreachable(code);
    if (code != 0 || status != kx::platform::kNameNoError) return L"";
    const std::wstring lower = kx::ToLower(dn);
    if (lower.find(L"cn=deleted objects,") != std::wstring::npos) {
        guidNames_.Put(guidText, dn);  // a deleted object does not move again
        return dn;
    }
    guidNames_.Put(guidText, kLiveObject);
    return lower;
}

std::wstring CLookupCache::GuidToName(const std::wstring& server, const std::wstring& guidText) {
    bool schemaToo = true;
    if (const std::wstring* found = guidNames_.Find(guidText)) {
        if (*found != kLiveObject) return *found;
        schemaToo = false;
    }
    // Without a directory to ask the answer is not kept: the GUID is named
    // once the directory answers again.
    std::shared_ptr<IDirectoryNames> handle = Skipped(server) ? nullptr : GetDsHandle(server);
    if (!handle) return guidText;
    bool reached = true;
    std::wstring name = NameOfGuid(server, *handle, guidText, schemaToo, &reached);
    if (!name.empty()) return name;
    if (reached) guidNames_.Put(guidText, guidText);
    return guidText;
}

std::wstring CLookupCache::SidToDn(const std::wstring& server, const std::wstring& sid) {
    std::shared_ptr<IDirectoryNames> handle = Skipped(server) ? nullptr : GetDsHandle(server);
    if (!handle) return L"";
    uint32_t status = kx::platform::kNameNotFound;
    std::wstring dn;
    if (Noted(server, server,
              handle->CrackName(NameFormat::SidOrSidHistory, NameFormat::Fqdn1779, sid, status,
                                dn)) != 0 ||
        status != kx::platform::kNameNoError)
        return L"";
    return dn;
}

std::wstring CLookupCache::GetDisplayName(const std::wstring& server, const std::wstring& input) {
    std::wstring result = input;
    const bool isPath = kx::StartsWithNoCase(input, L"LDAP://");
    const std::wstring dn = isPath ? input.substr(7) : input;
    // The name comes from the record: only a distinguished name becomes a path.
    if (!kx::IsDistinguishedName(dn)) return result;
    const std::wstring path =
        isPath ? input.substr(0, 7) + server + L"/" + kx::EscapeAdsPathComponent(dn)
               : PathOf(server, dn);
    if (Skipped(server)) return result;
    std::unique_ptr<IDirectoryObject> object;
    if (Noted(server, path, GetDirectory().GetObject(path, object)) != 0 || !object) return result;
    try {
        std::wstring value;
        if (object->Get(L"displayName", value) == 0) result = value;
        if (object->Get(L"name", value) == 0) result += L" " + value;
    } catch (...) {
        // What was read so far stands.
    }
    return result;
}
