// The definitions parser: a document as the server or the local copy gives
// it, loaded, then asked for a record that its first definition describes,
// whose alert item is built with the definition's property rules, the
// directory answering with texts of the document.
#include <memory>
#include <string>
#include <string_view>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/EventLogRecord.h"
#include "BaseClasses/LookupCache.h"
#include "FakeDirectory.h"
#include "FuzzMachine.h"
#include "FuzzText.h"
#include "alertlog/XMLAlertLog.h"
#include "alertlog/XMLAlertLogItem.h"
#include "definitions/WorkstationEventDefinitions.h"

namespace {

// A record that the definition's code, type, source and string rules
// describe: each rule's value stands at the rule's string number.
std::vector<uint8_t> RecordFor(const CXMLEventDefinition& definition) {
    EventLogRecordFields fields;
    fields.recordNumber = 7;
    fields.timeGenerated = 1700000000;
    fields.eventId = static_cast<uint32_t>(definition.EventCode);
    fields.eventType = static_cast<uint16_t>(definition.EventTypeID);
    fields.eventCategory = static_cast<uint16_t>(definition.EventCategoryID);
    fields.sourceName = definition.EventSource.substr(0, 256);
    fields.computerName = L"WS01";
    for (const auto& rule : definition.StringRules) {
        if (rule->StringNumber < 1 || rule->StringNumber > 16) continue;
        if (fields.strings.size() < static_cast<std::size_t>(rule->StringNumber)) {
            fields.strings.resize(rule->StringNumber);
        }
        fields.strings[rule->StringNumber - 1] = rule->StringValue.substr(0, 256);
    }
    return BuildEventLogRecord(fields);
}

// A directory that answers every search with the texts of the definition's
// first two string rules as a found object's name and former parent, as a
// broken or hostile directory could.
void AnswerWithTheRulesTexts(CFakeDirectory& directory, const CXMLEventDefinition& definition) {
    std::wstring texts[2];
    for (std::size_t i = 0; i < 2 && i < definition.StringRules.size(); ++i)
        texts[i] = definition.StringRules[i]->StringValue.substr(0, 256);
    directory.AddObject(L"LDAP://WS01/RootDSE", {{L"defaultNamingContext", L"DC=example,DC=test"}});
    directory.AddRow(L"", {{L"distinguishedName", texts[0]},
                           {L"lastKnownParent", texts[1]},
                           {L"objectGUID", L"{72EA3BB6-7116-49EA-A363-C630522C8357}"}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::fuzz::FuzzMachineFolder();
    CFakeDirectory directory;  // per input: it writes down every request
    if (size == 0) return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::wstring text = kx::fuzz::DecodeFuzzText(bytes, data[0]);

    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    set.LoadFromXml(text);
    if (set.GetDefinitions().empty()) return 0;
    const CXMLEventDefinition& first = *set.GetDefinitions().front();
    // A code outside 0..65535 matches no record's 16-bit event code.
    if (first.EventCode >= 0 && first.EventCode <= 0xFFFF) {
        KX_FUZZ_CHECK(set.IsCandidateEvent(static_cast<uint32_t>(first.EventCode)) == 1);
    }
    AnswerWithTheRulesTexts(directory, first);
    std::vector<uint8_t> record = RecordFor(first);
    CLookupCache lookups;
    CEventLogEntry entry(L"WS01", L"corp.example.test", first.LogName, record.data(), false,
                         lookups);
    if (CXMLEventDefinition* chosen = set.FindDefinition(&entry)) {
        std::unique_ptr<CXMLAlertLogItem> item = CXMLAlertLog::MakeAlertItem(entry, *chosen);
        KX_FUZZ_CHECK(item != nullptr);
    }
    return 0;
}
