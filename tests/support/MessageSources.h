#pragma once
// Message sources registered for a test as an installer registers them: the
// test's message files copied below %SystemRoot%\KxLookupTests, and the
// source keys of the event log (log "KxLookupTests") or publisher keys
// written to the local machine's registry. Linux: a machine root of the
// test's own whose system root is "C:\Windows". Windows: the Wine prefix's
// registry and Windows folder, put back as they were afterwards.

#include <filesystem>
#include <map>
#include <string>

#include "RegistrySandbox.h"

class CMessageSources {
public:
    static constexpr const wchar_t* kLog = L"KxLookupTests";

    CMessageSources();
    ~CMessageSources();
    CMessageSources(const CMessageSources&) = delete;
    CMessageSources& operator=(const CMessageSources&) = delete;

    // Copies a message file that tests/data/messages builds and answers its
    // registered path, "%SystemRoot%\KxLookupTests\<name>".
    std::wstring Install(const std::wstring& fileName);
    // The source's value ("EventMessageFile", ...) below the log's key.
    void RegisterSource(const std::wstring& source, const std::wstring& valueName,
                        const std::wstring& files);
    // The publisher's key (one per publisher name) whose default value is
    // the publisher name.
    void RegisterPublisher(const std::wstring& publisher, const std::wstring& valueName,
                           const std::wstring& files);
    // The directory the registry gives for %SystemRoot%.
    std::wstring SystemRoot() const;
    // The machine root of the test on Linux; empty on Windows.
    std::wstring MachineRoot() const { return sandbox_.MachineRoot(); }

private:
    static void WriteMachineValue(const std::wstring& subkey, const std::wstring& name,
                                  const std::wstring& value);

    CRegistrySandbox sandbox_;
    std::filesystem::path folder_;
    std::map<std::wstring, int> publisherKeys_;
};
