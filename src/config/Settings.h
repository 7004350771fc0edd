#pragma once
// The agent's settings in the registry of the local machine. The policy key
// is set by the administrator; the product key also holds the agent's own
// little state. Every function reads or writes anew (a change takes effect at
// the next call), never fails: a read that cannot be done answers the default,
// a write that cannot be done is dropped.

#include <cstdint>
#include <string>

inline constexpr const wchar_t* kPolicySettingsKey =
    L"SOFTWARE\\Policies\\Talmor Software\\Korvex\\Settings";
inline constexpr const wchar_t* kProductSettingsKey =
    L"SOFTWARE\\Brenwick Corporation\\Korvex\\Settings";

// Policy key.
std::wstring GetKFSServer();                // "KFSServer", default "localhost"
std::wstring GetKFSPort();                  // "KFSPort", default "15601"
uint32_t GetEnableWorkstationAuditAgent();  // "EnableWorkstationAuditAgent", default 0

// Policy key: the channel to the Korvex Foundation service.
uint32_t GetKFSUseHttps();            // "KFSUseHttps", default 0; 1: https://
std::wstring GetKFSCACertificates();  // "KFSCACertificates", default "" (the system's roots)

// Product key.
uint32_t GetLoggingLevel();              // "LoggingLevel", default 3
uint32_t GetLastEventLogRecordNumber();  // "WSLastEventLogRecordNumber", default 0
void SetLastEventLogRecordNumber(uint32_t recordNumber);
std::wstring GetEDVersion();  // "EDVersion", default ""
void SetEDVersion(const std::wstring& version);

// A configuration value that the Korvex Foundation service holds ("GET
// http(s)://server:port/GetConfigValue?Name=name", the name inserted as given).
// Empty when the server cannot be reached or its answer lacks the markers.
std::wstring GetConfigValue(const std::wstring& name);

// Product key: what identifies the record of the saved number (text of
// CEventRecordIdentity, "WSLastEventLogRecordIdentity", default ""), written
// after the number; it names its number, so one left from another is known.
std::wstring GetLastEventLogRecordIdentity();
void SetLastEventLogRecordIdentity(const std::wstring& identity);
