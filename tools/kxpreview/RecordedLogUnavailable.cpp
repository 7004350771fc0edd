#include "RecordedLog.h"

#include "ToolError.h"

std::vector<std::vector<uint8_t>> ReadRecordedLog(const std::wstring& path, uint32_t) {
    throw CToolError(kExitUsage, path + L": .evtx files are read on Linux only");
}
