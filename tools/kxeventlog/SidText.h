#pragma once
// SIDs between their binary form and the text form "S-1-5-21-...".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Nullopt when the text is not a SID (revision 1, at most 15 sub-authorities).
std::optional<std::vector<uint8_t>> ParseSidText(const std::wstring& text);
// Empty when the bytes are not a SID.
std::wstring SidToText(std::span<const uint8_t> sid);
