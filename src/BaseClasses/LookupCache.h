#pragma once
// What the agent looks up while it reads records, kept for the life of the
// process: the message files that sources registered, parameter texts,
// accounts and SIDs, directory binds, naming contexts and names of GUIDs.
// A distinct question costs one registry, file or account-database round
// while its answer is kept; failures are kept too. One instance lives from
// program start to exit; tests make their own. No lock: it is used from the
// collector's thread only.
//
// The answers kept for texts that records carry (accounts and SIDs,
// parameter numbers, GUIDs and other %{...} tokens) are bounded, each to
// kMaxKeptAnswers entries and kMaxKeptCharacters characters, the newest
// kept: a workstation's records name some hundreds of accounts and
// parameter texts, and a base schema holds under 2,000 attributes,
// classes and rights, so the ordinary working set fits, while a record
// writer who invents tokens cannot make the process grow. Message files and
// directory binds are kept by source and server, which the definitions and
// the computer fix, and are not bounded.
//
// Directory lookups go to the server named (the local computer's name, which
// the agent gives every record) and answer an empty string or their own
// input on failure. A server that did not answer at all (down, timed out),
// or whose directory could not be bound (no keytab, wrong credentials), is
// not asked again for kUnreachableSkipMilliseconds: without that, every
// lookup of every record would wait out the time-outs, or connect and bind,
// again. A directory that answers a question with an error is asked again at
// the next call. A directory that cannot be reached or bound says why in one
// warning per server and kUnreachableSkipMilliseconds; other failures are
// not logged.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/BoundedCache.h"
#include "common/Guid.h"
#include "platform/Directory.h"
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
    // "DOMAIN\name", or the SID string itself when it does not resolve (or
    // the lookup fails in any way: nothing is kept then).
    std::wstring GetAccountFromSid(const std::wstring& computer, const std::wstring& sidString);
    // The SID string of an account, or empty (likewise).
    std::wstring GetSidFromAccount(const std::wstring& computer, const std::wstring& account);

    static constexpr std::size_t kMaxKeptAnswers = 4096;
    // 1 MiB of UTF-16 text per cache on Windows: 4,096 ordinary answers of
    // 60 to 120 characters fit.
    static constexpr std::size_t kMaxKeptCharacters = 512 * 1024;

    static constexpr uint32_t kUnreachableSkipMilliseconds = 30000;

    // The directory-service bind of a server, kept for the process's life;
    // null when binding fails (tried again after kUnreachableSkipMilliseconds).
    std::shared_ptr<kx::platform::IDirectoryNames> GetDsHandle(const std::wstring& server);
    // The naming contexts that the server's RootDSE announces; empty when
    // it cannot be read (asked again at the next call).
    std::wstring GetDefaultNamingContext(const std::wstring& server);
    std::wstring GetConfigurationNamingContext(const std::wstring& server);
    std::wstring GetSchemaNamingContext(const std::wstring& server);
    void LoadNamingContexts(const std::wstring& server);

    // "{GUID}|distinguished name" of an object of category objectClass under
    // base created (or else changed) within two seconds of time (seconds
    // since 1970, UTC), or empty.
    std::wstring FindCreatedObject(const std::wstring& server, const std::wstring& base,
                                   const std::wstring& objectClass, int64_t time);
    // "{GUID}|former name" of a deleted object of objectClass changed within
    // two seconds of time, or empty.
    std::wstring FindDeletedObject(const std::wstring& server, const std::wstring& objectClass,
                                   int64_t time);
    // The distinguished name a deleted object had, rebuilt through deleted
    // parents; empty when nothing is found; the GUID text after a failed search.
    std::wstring FindDeletedObjectByGuid(const std::wstring& server, const std::wstring& guidText);

    // A schema attribute's, class's or right's name, an object's
    // distinguished name (live objects in lower case), or the GUID text.
    std::wstring GuidToName(const std::wstring& server, const std::wstring& guidText);
    // The distinguished name of a SID string, or empty.
    std::wstring SidToDn(const std::wstring& server, const std::wstring& sid);
    // "displayName name" of the object at a distinguished name or LDAP path;
    // the input itself when it cannot be read.
    std::wstring GetDisplayName(const std::wstring& server, const std::wstring& input);

    // "20150304050607.0Z".
    static std::wstring ToGeneralizedTime(int64_t utcSeconds);
    // A deleted object's name before its deletion marker: "CN=Jane" of
    // "CN=Jane\0ADEL:<guid>,..." (or of the form with a real line feed).
    static std::wstring CutAtDeletionMarker(const std::wstring& dn);

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

    struct NamingContexts {
        std::wstring defaultContext;
        std::wstring configuration;
        std::wstring schema;
    };
    const NamingContexts* FindNamingContexts(const std::wstring& server);
    bool Skipped(const std::wstring& server);
    // Keeps the time of a server that could not be reached or bound, and
    // reports why; target is the path or server name that was asked.
    uint32_t Noted(const std::wstring& server, const std::wstring& target, uint32_t code);
    void ReportBindFailure(const std::wstring& server, const std::wstring& why);
    uint32_t OpenSearch(const std::wstring& server, const std::wstring& path, bool tombstones,
                        std::unique_ptr<kx::platform::IDirectorySearch>& search);
    std::wstring FindInWindow(kx::platform::IDirectorySearch& search,
                              const std::wstring& objectClass, int64_t time,
                              const wchar_t* classAttribute, const wchar_t* timeAttribute,
                              bool cutAtMarker, bool* failed);
    std::wstring FindDeletedByGuid(const std::wstring& server, const std::wstring& guidText,
                                   std::wstring& outputName, int depth);
    // 0 found, 1 not found, 2 failed before searching, 3 search failed.
    int SearchDeletedByGuid(const std::wstring& server, const std::wstring& context,
                            const kx::Guid& guid, std::wstring& outputName);
    // reached: false when the directory did not answer (nothing is kept then).
    std::wstring NameOfGuid(const std::wstring& server, kx::platform::IDirectoryNames& handle,
                            const std::wstring& guidText, bool schemaToo, bool* reached);

    std::wstring localComputerName_;
    CBoundedCache accounts_{kMaxKeptAnswers, kMaxKeptCharacters};
    CBoundedCache sids_{kMaxKeptAnswers, kMaxKeptCharacters};
    CBoundedCache parameters_{kMaxKeptAnswers, kMaxKeptCharacters};
    std::unordered_map<std::wstring, std::optional<MessageModuleList>> modules_;
    std::unordered_map<std::wstring, std::wstring> publishers_;
    CBoundedCache guidNames_{kMaxKeptAnswers, kMaxKeptCharacters};
    std::unordered_map<std::wstring, std::shared_ptr<kx::platform::IDirectoryNames>> dsHandles_;
    std::unordered_map<std::wstring, NamingContexts> namingContexts_;
    std::unordered_map<std::wstring, uint32_t> heldOffSince_;
    std::unordered_map<std::wstring, uint32_t> bindFailureReported_;
};
