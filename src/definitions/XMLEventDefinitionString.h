#pragma once
// One string rule of an event definition: the insertion string it tests and
// the pattern that string must match.

#include <cstdint>
#include <string>

class CXMLEventDefinitionString {
public:
    int32_t StringNumber = 0;  // 1-based number of the record's insertion string
    std::wstring StringValue;  // the pattern
};
