#pragma once
// Records recorded on Windows (.evtx files) as the bytes of the classic
// records that the collector delivers, so that a preview runs them through
// the matching just as the agent runs the records of its log.

#include <cstdint>
#include <string>
#include <vector>

// The file's records in order, numbered from firstNumber on. Throws
// CToolError when the file cannot be read (or, on Windows, at once: the
// files are read with Debian's libevtx).
std::vector<std::vector<uint8_t>> ReadRecordedLog(const std::wstring& path, uint32_t firstNumber);
