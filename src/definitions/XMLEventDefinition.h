#pragma once
// One event definition: which records it selects and how their alert items
// are built. It owns its string rules and property rules.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "definitions/XMLEventDefinitionProperty.h"
#include "definitions/XMLEventDefinitionString.h"

class CEventLogEntry;

class CXMLEventDefinition {
public:
    std::wstring EventDefinitionID;
    std::wstring DefinitionName;
    std::wstring DefinitionType;
    std::wstring EventDefinitionCode;
    std::wstring ADVersion;
    std::wstring LogName;
    std::wstring EventCategory;
    int32_t EventCategoryID = 0;
    std::wstring EventSource;
    std::wstring EventType;
    int32_t EventTypeID = 0;
    int32_t EventCode = 0;
    int32_t Priority = 0;
    int32_t IsIncluded = 0;
    int32_t IsEnabled = 0;
    int32_t IsHidden = 0;
    std::wstring FormatText;  // template of the alert item's action text
    std::vector<std::unique_ptr<CXMLEventDefinitionString>> StringRules;
    std::vector<std::unique_ptr<CXMLEventDefinitionProperty>> PropertyRules;

    CXMLEventDefinitionString& AddStringRule();
    CXMLEventDefinitionProperty& AddPropertyRule();
    // True when every string rule passes: a rule whose number lies outside the
    // record's strings is skipped, any other tests that expanded string.
    bool PassesStringRules(CEventLogEntry& record) const;
    // Whether this definition selects the record: code, type, source, log,
    // string rules, enabled and included, in that order.
    bool Selects(CEventLogEntry& record) const;

    // The last rule of each kind; null when the definition has none.
    CXMLEventDefinitionString* LastStringRule();
    CXMLEventDefinitionProperty* LastPropertyRule();
};
