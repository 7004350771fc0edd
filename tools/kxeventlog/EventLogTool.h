#pragma once
// The kxeventlog commands over the event log port.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/EventLog.h"

class CToolArguments;

class CEventLogTool {
public:
    CEventLogTool(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}
    // The arguments after the program name; returns the exit code.
    int Run(const std::vector<std::wstring>& arguments);

    static std::wstring HelpText();

private:
    void Write(const CToolArguments& arguments);
    void WriteThroughSource(const CToolArguments& arguments);
    void List(const CToolArguments& arguments);
    void Info(const CToolArguments& arguments);
    void Clear(const CToolArguments& arguments);
    void Trim(const CToolArguments& arguments);
    void Import(const CToolArguments& arguments);
    kx::platform::EventLogHandle OpenLog(const std::wstring& logName);
    void Print(const std::wstring& text);

    kx::platform::IEventLog& eventLog_ = kx::platform::GetEventLog();
    std::FILE* out_;
    std::FILE* err_;
};
