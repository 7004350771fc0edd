#include "BaseClasses/LogData.h"

#include <memory>
#include <mutex>

#include "BaseClasses/LogFile.h"
#include "BaseClasses/LoggerThread.h"
#include "common/Clock.h"
#include "platform/Process.h"
#include "platform/SystemMessage.h"

namespace {

constexpr const wchar_t* kLogFileName = L"BWAgentSvc.log";

// Process-wide state of the log; the lock guards the file and the pending text.
struct DiagnosticLog {
    std::mutex lock;
    std::unique_ptr<CLogFile> file;
    std::wstring pending;
};

DiagnosticLog& State() {
    static DiagnosticLog* state = new DiagnosticLog();  // outlives every thread that logs
    return *state;
}

void AppendLine(DiagnosticLog& log, const std::wstring& text, uint32_t threadId) {
    kx::SystemTime now = GetClock().GetLocalTime();
    log.pending += kx::Format(L"%02d:%02d:%02d.%03d Thread(%06d)", now.hour, now.minute, now.second,
                              now.milliseconds, threadId);
    log.pending += text;
    log.pending += L"\r\n";
    if (log.pending.size() > 1) {
        log.file->MarkWritten();
        log.file->WriteString(log.pending);
        log.file->Flush();
        log.pending.clear();
    }
}

void WriteLine(const std::wstring& text, uint32_t threadId) {
    DiagnosticLog& log = State();
    std::lock_guard<std::mutex> guard(log.lock);
    if (!log.file || !log.file->IsOpen()) return;
    try {
        AppendLine(log, text, threadId);
    } catch (...) {
        // The line is lost, not left half-made in front of the next one.
        log.pending.clear();
        throw;
    }
}

// The writer object is never destroyed, so a caller that posts while the log
// closes meets a stopped writer, not a freed one.
CLoggerThread& Writer() {
    static CLoggerThread* writer = new CLoggerThread(WriteLine);
    return *writer;
}

std::wstring LogFilePath() {
    std::wstring path = std::wstring(L".") + kx::platform::kPathSeparator + kLogFileName;
    std::wstring executable = kx::platform::GetExecutablePath();
    std::size_t last = executable.rfind(kx::platform::kPathSeparator);
    if (last != std::wstring::npos)
        path = executable.substr(0, last) + kx::platform::kPathSeparator + kLogFileName;
    return path;
}

}  // namespace

bool InitDiagnosticLog(int32_t level) {
    DiagnosticLog& log = State();
    bool open = false;
    {
        std::lock_guard<std::mutex> guard(log.lock);
        if (!log.file) {
            log.file = std::make_unique<CLogFile>(LogFilePath());
            if (!log.file->OpenForLogging()) log.file.reset();
        }
        open = log.file != nullptr;
    }
    Writer().Start();
    Writer().SetThreshold(level);
    return open;
}

void CloseDiagnosticLog() {
    DiagnosticLog& log = State();
    // Lines logged before the close are written, not dropped with the file.
    Writer().WaitUntilIdle();
    {
        std::lock_guard<std::mutex> guard(log.lock);
        if (log.file && !log.pending.empty()) {
            log.file->WriteString(log.pending);
            log.file->Flush();
        }
        log.pending.clear();
        log.file.reset();
    }
    Writer().Quit();
}

const wchar_t* PrefixForLevel(int32_t level) {
    switch (level) {
        case kLogError:
            return kPrefixError;
        case kLogWarning:
            return kPrefixWarning;
        case kLogInformation:
            return kPrefixInformation;
        case kLogDetail:
            return kPrefixDetail;
        default:
            return L"";
    }
}

CLogData::CLogData(const wchar_t* sourceFile, int32_t line, const wchar_t* scope)
    : exitFlag_(0), line_(line), sourceFile_(sourceFile), scope_(scope) {
    if (TracingEnabled()) {
        try {
            Emit(kPrefixEntering, std::wstring(), scope_);
        } catch (...) {
            ReportFailure();
        }
    }
}

CLogData::CLogData(const wchar_t* sourceFile, int32_t line)
    : exitFlag_(1), line_(line), sourceFile_(sourceFile), scope_(nullptr) {}

CLogData::~CLogData() {
    if (!TracingEnabled()) return;
    try {
        Emit(exitFlag_ == 1 ? kPrefixExiting : kPrefixAbnormalExit, std::wstring(), scope_);
    } catch (...) {
        ReportFailure();
    }
}

void CLogData::SetPrefix(const wchar_t* prefix) noexcept {
    try {
        prefix_ = prefix ? prefix : L"";
    } catch (...) {
        ReportFailure();
    }
}

bool CLogData::TracingEnabled() {
    return Writer().IsRunning() && Writer().GetThreshold() <= 0;
}

bool CLogData::ShouldLog(const wchar_t* format) const {
    return Writer().IsRunning() && level >= Writer().GetThreshold() && format && format[0] != L'\0';
}

void CLogData::Emit(const std::wstring& prefix, const std::wstring& message, const wchar_t* scope) {
    std::wstring text = kx::Format(L"%16s %s %s", prefix, message, scope ? scope : L"");
    Writer().PostLine(std::move(text), kx::platform::GetCurrentThreadIdentifier());
}

// A failure inside logging is logged as the system's text for the last error,
// and goes no further.
void CLogData::ReportFailure() noexcept {
    try {
        std::wstring text = kx::platform::GetSystemErrorText(kx::platform::GetLastErrorCode());
        if (!text.empty() && Writer().IsRunning() && kLogError >= Writer().GetThreshold()) {
            Emit(kPrefixError, text, nullptr);
        }
    } catch (...) {
    }
}
