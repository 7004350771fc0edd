#pragma once
// What the agent looks up while it reads records, kept for the life of the
// process: the message files that sources registered, parameter texts,
// accounts and SIDs, directory names of GUIDs. Every distinct question costs
// at most one registry, file or account-database round; failures are kept
// too. One instance lives from program start to exit; tests make their own.
// No lock: it is used from the collector's thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/MessageResources.h"

class CRegistryKey;

// Loaded message files of one source, in the order the registry lists them.
using MessageModuleList = std::vector<kx::platform::MessageModuleHandle>;

class CLookupCache {
public:
    CLookupCache();
    // Frees every message file loaded.
    ~CLookupCache();
    CLookupCache(const CLookupCache&) = delete;
    CLookupCache& operator=(const CLookupCache&) = delete;

    const std::wstring& LocalComputerName() const { return localComputerName_; }

    // The message files of a source on a computer for "EventMessageFile",
    // "ParameterMessageFile" or "CategoryMessageFile"; null when there are
    // none. Throws std::invalid_argument for a remote computer's path that
    // is too short to name a drive (nothing is kept for it then).
    const MessageModuleList* GetMessageModules(const std::wstring& computer,
                                               const std::wstring& log, const std::wstring& source,
                                               const std::wstring& valueName);
    // The text of parameter message number, trimmed; "%%<number>" when no
    // parameter file of the source has it.
    std::wstring GetParameterText(const std::wstring& computer, const std::wstring& log,
                                  const std::wstring& source, uint32_t number);
    // "DOMAIN\name", or the SID string itself when it does not resolve.
    std::wstring GetAccountFromSid(const std::wstring& computer, const std::wstring& sidString);
    // The SID string of an account, or empty.
    std::wstring GetSidFromAccount(const std::wstring& computer, const std::wstring& account);
    // The directory name of a braced GUID text. Without a directory to ask,
    // the GUID text itself.
    std::wstring GuidToName(const std::wstring& server, const std::wstring& guidText);

    // Replaces the first %SYSTEMROOT%, %PROGRAMFILES% or %COMMONFILES% of a
    // path (any letter case) by the directory that the registry behind key
    // names; any other variable stays.
    static std::wstring ExpandPathVariable(CRegistryKey& key, const std::wstring& path);
    // "C:\dir\a.dll" on computer PC01 as "\\PC01\C$\dir\a.dll". Throws
    // std::invalid_argument for a path of fewer than 2 characters.
    static std::wstring ToAdministrativeSharePath(const std::wstring& computer,
                                                  const std::wstring& path);

private:
    bool IsLocalComputer(const std::wstring& computer) const;
    std::optional<MessageModuleList> LoadMessageModules(const std::wstring& computer,
                                                        const std::wstring& log,
                                                        const std::wstring& source,
                                                        const std::wstring& valueName);
    // The key and value name that hold a source's message files; false when
    // the source is a publisher that is not registered.
    bool FindMessageFileValue(CRegistryKey& key, const std::wstring& log,
                              const std::wstring& source, const std::wstring& valueName,
                              std::wstring* subkey, std::wstring* value);
    void BuildPublisherMap(CRegistryKey& key);

    std::wstring localComputerName_;
    std::unordered_map<std::wstring, std::wstring> accounts_;
    std::unordered_map<std::wstring, std::wstring> sids_;
    std::unordered_map<std::wstring, std::wstring> parameters_;
    std::unordered_map<std::wstring, std::optional<MessageModuleList>> modules_;
    std::unordered_map<std::wstring, std::wstring> publishers_;
    std::unordered_map<std::wstring, std::wstring> guidNames_;
};
