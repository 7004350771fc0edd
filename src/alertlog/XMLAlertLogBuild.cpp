// The alert item of a record that a definition selected: the record's fields,
// the definition's action text with its placeholders filled, and the
// properties that the definition's rules compute.
#include <stdexcept>

#include "BaseClasses/EventLogEntry.h"
#include "BaseClasses/LookupCache.h"
#include "alertlog/XMLAlertLog.h"
#include "common/Format.h"
#include "common/Text.h"
#include "definitions/XMLEventDefinition.h"
#include "platform/Time.h"

namespace {

struct PropertyResult {
    bool store;
    std::wstring name;
    std::wstring value;
};

// "flag|name|value": the name ends at the first bar from position 2 on; a
// result without it has an empty name and is all value.
PropertyResult ParseResult(const std::wstring& result) {
    const std::size_t bar = result.size() > 2 ? result.find(L'|', 2) : std::wstring::npos;
    PropertyResult parsed{!result.empty() && result[0] == L'1', L"", result};
    if (bar != std::wstring::npos) {
        parsed.name = result.substr(2, bar - 2);
        parsed.value = result.substr(bar + 1);
    }
    return parsed;
}

int64_t TimeGeneratedOf(const CEventLogEntry& record, bool local) {
    try {
        return record.GetTimeGenerated(local);
    } catch (const std::runtime_error&) {
        return 0;  // the alert still goes, with the earliest time
    }
}

}  // namespace

std::wstring CXMLAlertLog::FormatLocalTime(int64_t seconds) {
    kx::SystemTime local;
    if (!kx::platform::UnixSecondsToLocalTime(seconds, &local)) return L"";
    // The C runtime's "%c" in the "C" locale, which the agent never changes.
    return kx::Format(L"%02d/%02d/%02d %02d:%02d:%02d", local.month, local.day, local.year % 100,
                      local.hour, local.minute, local.second);
}

void CXMLAlertLog::ApplyPropertyRules(CEventLogEntry& record, CXMLEventDefinition& definition,
                                      CXMLAlertLogItem& item) {
    CLookupCache& lookups = record.GetLookups();
    for (const auto& rule : definition.PropertyRules) {
        rule->Evaluate(record);
        for (const std::wstring& result : rule->Results) {
            const PropertyResult property = ParseResult(result);
            const std::wstring placeholder = kx::ToUpper(kx::Format(L"%%[PROP:%s]", property.name));
            item.ActionText = kx::ReplaceAll(item.ActionText, placeholder, property.value);
            if (kx::EqualsNoCase(property.name, L"NEWACTORACCOUNT")) {
                item.AccountName = property.value;
                item.AccountSID = lookups.GetSidFromAccount(item.ComputerName, property.value);
            }
            if (kx::EqualsNoCase(property.name, L"NEWACTORSID")) {
                item.AccountName = lookups.GetAccountFromSid(item.ComputerName, property.value);
                item.AccountSID = property.value;
            }
            if (property.store) item.AddProperty(property.name, property.value);
        }
        rule->Results.clear();
    }
}

std::unique_ptr<CXMLAlertLogItem> CXMLAlertLog::MakeAlertItem(CEventLogEntry& record,
                                                              CXMLEventDefinition& definition) {
    auto item = std::make_unique<CXMLAlertLogItem>();
    item->AccountName = record.GetUserAccount();
    item->AccountSID = record.GetUserSidString();
    item->ComputerName = record.GetComputerName();
    item->ComputerDomain = record.GetDomainName();
    item->TimeGenerated = TimeGeneratedOf(record, false);
    item->EventDump = record.GetMessageText();
    item->EventDefinitionCode = definition.EventDefinitionCode;
    item->ActionText = definition.FormatText;
    ApplyPropertyRules(record, definition, *item);
    std::wstring text = kx::ReplaceAll(item->ActionText, L"%[TIMEGENERATED]",
                                       FormatLocalTime(TimeGeneratedOf(record, true)));
    text = kx::ReplaceAll(text, L"%[ACTORACCOUNT]", item->AccountName);
    item->ActionText = kx::ReplaceAll(text, L"%[COMPUTERNAME]", item->ComputerName);
    return item;
}

uint64_t CXMLAlertLog::BuildAlertItem(CEventLogEntry& record, CXMLEventDefinition& definition) {
    return AddItem(MakeAlertItem(record, definition));
}
