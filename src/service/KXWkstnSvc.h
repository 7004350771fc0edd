#pragma once
// The agent's service: its identity, the command line's usage text, and Run,
// which keeps the audit agent (CWorkstationAuditAgent) alive from the
// running report until a stop is requested.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "service/NTService.h"

class CKXWkstnSvc : public CNTService {
public:
    static constexpr const wchar_t* kServiceName = L"KXWkstnSvc";
    static constexpr const wchar_t* kDisplayName = L"Korvex Workstation Agent";
    static constexpr const wchar_t* kDescription = L"Brenwick Korvex Workstation Agent";
    // The source of the collector's events (0x40000011), whose texts are in
    // the service's message file too.
    static constexpr const wchar_t* kAgentSourceName = L"Korvex Agent";
    static constexpr const wchar_t* kMessageFileName = L"KXWkstnSvc.dll";
    static constexpr uint32_t kInitialUserControlValue = 1000;
    // Recovery: a restart after a minute for the first and second failure,
    // after five minutes for every later one; the count starts again after
    // a day without failure. An exit with an error counts as a failure.
    static constexpr uint32_t kFirstRestartDelay = 60000;
    static constexpr uint32_t kLaterRestartDelay = 300000;
    static constexpr uint32_t kFailureResetPeriod = 86400;

    CKXWkstnSvc();
    CKXWkstnSvc(kx::platform::IServiceControl& serviceControl, kx::platform::IEventLog& eventLog);

    void Run(uint32_t argc, wchar_t** argv) override;
    void OnStop() override;
    void OnPause() override;
    void OnContinue() override;
    void OnUserControl(uint32_t control) override;
    void ShowHelp() override;
    bool Install(std::wstring& message, uint32_t& error) override;
    bool Uninstall(std::wstring& message, uint32_t& error, uint32_t timeout) override;

    // What CApp sets before the command line is processed.
    void AddDependency(const std::wstring& serviceName) { dependencies_.push_back(serviceName); }
    void SetStartType(uint32_t startType) { startType_ = startType; }
    void SetServiceType(uint32_t serviceType) { serviceType_ = serviceType; }

    uint32_t UserControlValue() const { return userControlValue_; }
    bool Paused() const { return paused_.load() != 0; }
    const std::wstring& MessageFilePath() const { return eventMessageFile_; }

protected:
    // Holds the agent for as long as the service runs; its destruction stops it.
    class CAgentScope {
    public:
        virtual ~CAgentScope() = default;
    };
    // Returns when the agent is fully started; errors leave as exceptions.
    virtual std::unique_ptr<CAgentScope> StartAgent();

private:
    void RegisterOwnEventSource();

    std::atomic<int32_t> stopRequested_{0};
    std::atomic<int32_t> paused_{0};
    uint32_t userControlValue_ = kInitialUserControlValue;  // the control handler's alone
};
