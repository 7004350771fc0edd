// The alert item of a record that a definition selected: the record's fields,
// the definition's action text with its placeholders filled, and the
// properties that the definition's rules compute.
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

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

// A placeholder of the action text ("%[...]") and its value.
using Placeholder = std::pair<std::wstring, std::wstring>;
// Room for the results of a definition's rules and the three fixed ones.
constexpr std::size_t kUsualPlaceholders = 16;

// The first of the placeholders that stands in text at position at, or null.
const Placeholder* PlaceholderAt(std::wstring_view text, std::size_t at,
                                 const std::vector<Placeholder>& placeholders) {
    for (const Placeholder& placeholder : placeholders)
        if (text.substr(at).starts_with(placeholder.first)) return &placeholder;
    return nullptr;
}

// The template with its placeholders replaced in one pass: a value is never
// read again, so a value that holds a placeholder's text (a record's string
// can) keeps it as written.
std::wstring ReplacePlaceholders(std::wstring_view text,
                                 const std::vector<Placeholder>& placeholders) {
    std::wstring result;
    std::size_t at = 0;
    for (std::size_t found = text.find(L"%["); found != std::wstring_view::npos;
         found = text.find(L"%[", at)) {
        result.append(text.substr(at, found - at));
        if (const Placeholder* placeholder = PlaceholderAt(text, found, placeholders)) {
            result.append(placeholder->second);
            at = found + placeholder->first.size();
        } else {
            result.push_back(L'%');
            at = found + 1;
        }
    }
    result.append(text.substr(at));
    return result;
}

// Each rule's results, in order: the placeholders they fill, the actor
// overrides, and the properties of those flagged "1".
std::vector<Placeholder> ApplyPropertyRules(CEventLogEntry& record, CXMLEventDefinition& definition,
                                            CXMLAlertLogItem& item) {
    std::vector<Placeholder> placeholders;
    placeholders.reserve(kUsualPlaceholders);
    CLookupCache& lookups = record.GetLookups();
    for (const auto& rule : definition.PropertyRules) {
        rule->Evaluate(record);
        for (const std::wstring& result : rule->Results) {
            const PropertyResult property = ParseResult(result);
            placeholders.emplace_back(kx::ToUpper(kx::Format(L"%%[PROP:%s]", property.name)),
                                      property.value);
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
    return placeholders;
}

}  // namespace

std::wstring CXMLAlertLog::FormatLocalTime(int64_t seconds) {
    kx::SystemTime local;
    if (!kx::platform::UnixSecondsToLocalTime(seconds, &local)) return L"";
    // The C runtime's "%c" in the "C" locale, which the agent never changes.
    return kx::Format(L"%02d/%02d/%02d %02d:%02d:%02d", local.month, local.day, local.year % 100,
                      local.hour, local.minute, local.second);
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
    std::vector<Placeholder> placeholders = ApplyPropertyRules(record, definition, *item);
    placeholders.emplace_back(L"%[TIMEGENERATED]", FormatLocalTime(TimeGeneratedOf(record, true)));
    placeholders.emplace_back(L"%[ACTORACCOUNT]", item->AccountName);
    placeholders.emplace_back(L"%[COMPUTERNAME]", item->ComputerName);
    item->ActionText = ReplacePlaceholders(definition.FormatText, placeholders);
    return item;
}

uint64_t CXMLAlertLog::BuildAlertItem(CEventLogEntry& record, CXMLEventDefinition& definition) {
    return AddItem(MakeAlertItem(record, definition));
}
