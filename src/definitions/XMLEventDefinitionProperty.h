#pragma once
// One property rule of an event definition: which insertion strings it reads,
// how it turns them into the alert item's properties, and the results of its
// last evaluation.

#include <cstdint>
#include <string>
#include <vector>

#include "BaseClasses/ADsPathname.h"

class CEventLogEntry;

class CXMLEventDefinitionProperty {
public:
    std::wstring PropertyCode;   // the property's name; selects the "Special" computation
    std::wstring PropertyValue;  // insertion-string numbers: "n", "n|m", "n\m" or "n/m"
    std::wstring PropertyType;   // "Normal", "Raw", "Strip", "Account", "Special", ...
    uint8_t StoreInDatabase = 0;
    // "flag|name|value" strings of the last evaluation; empty between evaluations.
    std::vector<std::wstring> Results;

    // Appends this rule's results for the record. Never throws: a lookup
    // that fails in any way (the record's and the directory's texts are
    // input from outside) ends the rule with the results it had so far.
    void Evaluate(CEventLogEntry& record);

    // Trimmed; of a text with a line feed, only what comes before it, trimmed.
    static std::wstring CleanValue(const std::wstring& text);
    // The rule's directory path object, made with the rule.
    const CADsPathname& Pathname() const { return pathname_; }

private:
    void EvaluateKind(CEventLogEntry& record);
    void EmitStandard(const std::wstring& value);
    void Emit(const std::wstring& result) { Results.push_back(result); }
    void EvaluateSpecial(CEventLogEntry& record);
    void EvaluateObjectFinder(CEventLogEntry& record);
    void EvaluateGpoName(CEventLogEntry& record);
    void EvaluateDeletedByGuid(CEventLogEntry& record);
    void EvaluateParentOfSid(CEventLogEntry& record);
    void EvaluateParentOfGuid(CEventLogEntry& record);
    void EvaluateParentOfDn(CEventLogEntry& record);
    void EvaluateList(CEventLogEntry& record);

    // Parses and rewrites the directory paths of the special kinds; kept for
    // the rule's life.
    CADsPathname pathname_;
};
