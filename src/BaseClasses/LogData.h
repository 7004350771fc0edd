#pragma once
// The diagnostic log "BWAgentSvc.log": one record per logging call or traced
// scope, formatted on the caller's thread and written by the writer thread.

#include <cstdint>
#include <string>

#include "common/Format.h"

// Levels; a line is written when its level is at least the threshold.
enum LogLevel : int32_t {
    kLogTrace = 0,
    kLogDetail = 1,
    kLogInformation = 2,
    kLogWarning = 3,
    kLogError = 4,
};

inline constexpr const wchar_t* kPrefixError = L"***Error: ";
inline constexpr const wchar_t* kPrefixWarning = L"**Warning: ";
inline constexpr const wchar_t* kPrefixInformation = L"*Information: ";
inline constexpr const wchar_t* kPrefixDetail = L"*Detail: ";
inline constexpr const wchar_t* kPrefixEntering = L"Entering: ";
inline constexpr const wchar_t* kPrefixExiting = L"Exiting: ";
inline constexpr const wchar_t* kPrefixAbnormalExit = L"Abnormal exit: ";

// Starts the log with the given threshold; true when the file is open.
// Called again while the file is open, it only changes the threshold.
bool InitDiagnosticLog(int32_t level);
// Writes what is queued, closes the file (deleting it when no line was
// written during the run) and ends the writer thread.
void CloseDiagnosticLog();

// The prefix that belongs to a level ("***Error: " for 4 and so on).
const wchar_t* PrefixForLevel(int32_t level);

class CLogData {
public:
    // Traces a scope: "Entering: " now, "Exiting: " or "Abnormal exit: " at
    // destruction, at threshold 0 or less.
    CLogData(const wchar_t* sourceFile, int32_t line, const wchar_t* scope);
    // A record for one message.
    CLogData(const wchar_t* sourceFile, int32_t line);
    virtual ~CLogData();
    CLogData(const CLogData&) = delete;
    CLogData& operator=(const CLogData&) = delete;

    // A prefix that cannot be copied leaves the one before; nothing propagates.
    void SetPrefix(const wchar_t* prefix) noexcept;

    template <typename... Args>
    void Log(const wchar_t* format, const Args&... args) {
        if (!ShouldLog(format)) return;
        try {
            Emit(prefix_, kx::Format(format, args...), scope_);
        } catch (...) {
            ReportFailure();
        }
    }

    // Sets level and its prefix, then logs.
    template <typename... Args>
    void LogAt(int32_t logLevel, const wchar_t* format, const Args&... args) {
        level = logLevel;
        if (!ShouldLog(format)) return;  // filtered calls stay cheap
        SetPrefix(PrefixForLevel(logLevel));
        Log(format, args...);
    }

    // Before each normal return of a traced method: the return's line, and
    // the exit counts as normal.
    void MarkNormalExit(int32_t returnLine) {
        line_ = returnLine;
        exitFlag_ = 1;
    }

    int32_t GetLine() const { return line_; }
    const wchar_t* GetSourceFile() const { return sourceFile_; }

    int32_t level = kLogInformation;  // set by the caller before Log

private:
    bool ShouldLog(const wchar_t* format) const;
    static void Emit(const std::wstring& prefix, const std::wstring& message, const wchar_t* scope);
    static bool TracingEnabled();
    void ReportFailure() noexcept;

    int32_t exitFlag_;
    int32_t line_;
    const wchar_t* sourceFile_;
    const wchar_t* scope_;
    std::wstring prefix_;
};

// One message at a level, from a plain record.
template <typename... Args>
void LogMessage(const wchar_t* sourceFile, int32_t line, int32_t level, const wchar_t* format,
                const Args&... args) {
    CLogData record(sourceFile, line);
    record.LogAt(level, format, args...);
}
