#pragma once
// One property rule of an event definition: which insertion strings it reads,
// how it turns them into the alert item's properties, and the results of its
// last evaluation.

#include <cstdint>
#include <string>
#include <vector>

class CXMLEventDefinitionProperty {
public:
    std::wstring PropertyCode;   // the property's name; selects the "Special" computation
    std::wstring PropertyValue;  // insertion-string numbers: "n", "n|m", "n\m" or "n/m"
    std::wstring PropertyType;   // "Normal", "Raw", "Strip", "Account", "Special", ...
    uint8_t StoreInDatabase = 0;
    // "flag|name|value" strings of the last evaluation; empty between evaluations.
    std::vector<std::wstring> Results;
};
