#pragma once
// The service executable's command line: one command (the last one given
// counts), a time-out and the silent switch. Only flags (arguments that
// began with "-" or "/") are acted on; keywords ignore case.

#include <cstdint>
#include <string>

class CNTServiceCommandLineInfo {
public:
    enum Command : uint32_t {
        kRunAsService = 0,
        kStartService = 1,
        kPauseService = 2,
        kContinueService = 3,
        kStopService = 4,
        kInstallService = 5,
        kUninstallService = 6,
        kDebugService = 7,
        kShowServiceHelp = 8,
    };
    static constexpr uint32_t kDefaultTimeout = 60000;

    virtual ~CNTServiceCommandLineInfo() = default;

    // One argument, its leading "-" or "/" already removed when flag is set.
    virtual void ParseParam(const std::wstring& param, bool flag, bool last);

    uint32_t command = kRunAsService;
    uint32_t timeout = kDefaultTimeout;  // milliseconds
    uint32_t silent = 0;
};
