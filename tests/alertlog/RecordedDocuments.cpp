#include "RecordedDocuments.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "AlertLogTestSupport.h"
#include "BaseClasses/LookupCache.h"
#include "FakeDirectory.h"
#include "TempDirectory.h"
#include "common/Text.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/Process.h"
#include "service/AuditPipeline.h"

namespace {

// Markup and a CDATA end, an astral character, lone high and low surrogates,
// U+FFFE and a zero inside: what a directory may hand back as a name.
std::wstring HostileName() {
    std::wstring name = L"CN=a&<>]]>\U0001F600b";
    name += L'\xD800';
    name += L'c';
    name += L'\xDC00';
    name += L'd';
    name += L'\xFFFE';
    name += L'\0';
    return name + L"e,OU=Hostile,DC=offsec,DC=lan";
}

// Answers for the recorded logs' accounts and objects (the names of their
// domain, offsec.lan) and, for the hostile records, the hostile name.
void ScriptDirectory(CFakeDirectory& directory) {
    directory.AddCrackedName(L"S-1-5-21-4230534742-2542757381-3142984815-1242",
                             L"CN=it-admin,CN=Users,DC=offsec,DC=lan");
    directory.AddCrackedName(L"S-1-5-21-4230534742-2542757381-3142984815-1159",
                             L"CN=honey-pot1,OU=Test-OU,OU=OFFSEC-COMPANY,DC=offsec,DC=lan");
    directory.AddCrackedName(L"{259162F1-58E4-4EE9-9B9C-2BAF2A03D376}",
                             L"CN=honey-pot1,OU=Test-OU,OU=OFFSEC-COMPANY,DC=offsec,DC=lan");
    directory.AddRow(
        L"(objectCategory=server)",
        {{L"objectGUID", L"{2CB2FA54-A21A-4E2F-B7AF-A82A56D9D690}"},
         {L"distinguishedName",
          L"CN=JUMP01,CN=Servers,CN=OFFSEC-PREMISE,CN=Sites,CN=Configuration,DC=offsec,"
          L"DC=lan"}});
    directory.AddCrackedName(L"S-1-5-21-1-2-3-1104", HostileName());
    directory.AddRow(L"(objectCategory=groupPolicyContainer)",
                     {{L"objectGUID", L"{31B2F340-016D-11D2-945F-00C04FB984F9}"},
                      {L"distinguishedName", HostileName()}});
}

using DefinitionSets = std::vector<std::unique_ptr<CWorkstationEventDefinitions>>;

// The realistic definitions, a set of one for each, in document order: Wine's
// xmllite misreads a UTF-16 document longer than 8 KB, and each definition
// alone is far shorter. The first set that selects a record holds the
// definition that the whole set would find: the first that selects it.
DefinitionSets LoadDefinitions() {
    const std::wstring text = kx::Utf8ToWide(ReadFileBytes(KX_DEFINITIONS_DOCUMENT));
    const std::wstring open = L"<EventDefinition>";
    const std::size_t first = text.find(open);
    const std::size_t end = text.rfind(L"</EventDefinitions>");
    if (first == std::wstring::npos || end == std::wstring::npos || end < first)
        throw std::runtime_error("the definitions document has no definitions");
    DefinitionSets sets;
    for (std::size_t at = first; at < end;) {
        const std::size_t next = std::min(text.find(open, at + 1), end);
        auto set = std::make_unique<CWorkstationEventDefinitions>(
            CWorkstationEventDefinitions::kWithoutRefresh);
        set->LoadFromXml(text.substr(0, first) + text.substr(at, next - at) + text.substr(end));
        if (set->GetDefinitions().size() != 1 || !set->IsComplete())
            throw std::runtime_error("a definition does not load");
        sets.push_back(std::move(set));
        at = next;
    }
    return sets;
}

std::unique_ptr<CXMLAlertLogItem> AlertOf(const std::vector<uint8_t>& record,
                                          const DefinitionSets& sets, CLookupCache& lookups) {
    for (const auto& set : sets) {
        if (auto item = CAuditPipeline::MakeRecordAlert(record.data(), *set, lookups,
                                                        CRecordedDocuments::kComputer,
                                                        CRecordedDocuments::kDomain))
            return item;
    }
    return nullptr;
}

// The alert log's cache folder is a folder of its own while it lives.
class CCacheFolder {
public:
    CCacheFolder() { kx::platform::SetExecutablePathForTesting(folder_.Join(L"KXWkstnSvc.exe")); }
    ~CCacheFolder() { kx::platform::SetExecutablePathForTesting(L""); }
    const std::filesystem::path& Path() const { return folder_.Path(); }

private:
    CTempDirectory folder_;
};

}  // namespace

std::string CRecordedDocuments::JoinRecords(const std::vector<std::vector<uint8_t>>& records) {
    std::string bytes;
    for (const auto& record : records) bytes.append(record.begin(), record.end());
    return bytes;
}

std::vector<std::vector<uint8_t>> CRecordedDocuments::SplitRecords(const std::string& bytes) {
    std::vector<std::vector<uint8_t>> records;
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        const auto* length = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        const std::size_t size = length[0] | length[1] << 8 | length[2] << 16 |
                                 static_cast<std::size_t>(length[3]) << 24;
        if (size < 4 || at + size > bytes.size()) throw std::runtime_error("a record cut short");
        records.emplace_back(bytes.begin() + at, bytes.begin() + at + size);
        at += size;
    }
    return records;
}

CAgentBytes CRecordedDocuments::Make(const std::vector<std::vector<uint8_t>>& records) {
    CCacheFolder folder;
    CFakeDirectory directory;
    ScriptDirectory(directory);
    CLookupCache lookups;
    const DefinitionSets definitions = LoadDefinitions();
    CTestAlertLog log;
    for (const auto& record : records)
        if (auto item = AlertOf(record, definitions, lookups)) log.AddItem(std::move(item));
    log.FlushToCache();
    const auto files = CacheFilesIn(folder.Path());
    if (files.size() != 1) throw std::runtime_error("the alerts did not make one cache file");
    CAgentBytes bytes;
    bytes.cacheFile = ReadFileBytes(files[0]);
    log.answer = [](const std::wstring&) { return 0u; };
    log.SendCacheFiles();
    if (log.posted.size() != 1) throw std::runtime_error("the cache file did not make one post");
    bytes.document = kx::WideToUtf16LE(log.posted[0]);
    return bytes;
}
