#pragma once
// A directory of the test's own, installed as the platform's while it lives:
// searches answer scripted rows, binds and reads fail or succeed on demand,
// and every request is written down in order ("open <path>", "search
// <filter>", "bind <server>", "crack <name>", "map <guid>", "get <path>",
// "pdc <domain>", "encode").
//
//   CFakeDirectory directory;
//   directory.AddRow(L"(whencreated=20150304050607.0Z)", {{L"distinguishedName", L"CN=x"}});
//   ... cache.FindCreatedObject(...) ...
//   EXPECT_EQ(directory.Count(L"search"), 1);

#include <map>
#include <string>
#include <vector>

#include "common/Guid.h"
#include "platform/Directory.h"

class CFakeDirectory : public kx::platform::IDirectory {
public:
    using Row = std::map<std::wstring, std::wstring>;  // objectGUID: a braced GUID text

    CFakeDirectory();
    ~CFakeDirectory() override;

    // Rows of every search whose filter contains filterPart.
    void AddRow(const std::wstring& filterPart, const Row& row);
    // An object that GetObject finds at path, with its attributes.
    void AddObject(const std::wstring& path, const Row& attributes);
    void AddCrackedName(const std::wstring& name, const std::wstring& dn);
    void AddSchemaGuid(const std::wstring& guidText, kx::platform::SchemaGuidType type,
                       const std::wstring& name);
    void AddPrimaryDomainController(const std::wstring& domain, const std::wstring& controller);

    uint32_t openCode = 0;    // answer of OpenSearch
    uint32_t bindCode = 0;    // answer of Bind
    uint32_t searchCode = 0;  // answer of ExecuteSearch
    uint32_t encodeCode = 0;  // answer of EncodeBinaryData
    uint32_t objectCode = 0;  // answer of GetObject for paths without an object
    uint32_t namesCode = 0;   // answer of CrackName and MapSchemaGuid
    // Answer of DescribeBindFailure for codes other than 0 and "no such object".
    std::wstring bindFailure;

    const std::vector<std::wstring>& Requests() const { return requests_; }
    // The requests that begin with kind ("search", "open", ...).
    int Count(const std::wstring& kind) const;
    void ClearRequests() { requests_.clear(); }

    std::unique_ptr<kx::platform::IDirectoryPathname> CreatePathname(uint32_t& code) override;
    uint32_t OpenSearch(const std::wstring& path,
                        std::unique_ptr<kx::platform::IDirectorySearch>& search) override;
    uint32_t GetObject(const std::wstring& path,
                       std::unique_ptr<kx::platform::IDirectoryObject>& object) override;
    uint32_t Bind(const std::wstring& server,
                  std::shared_ptr<kx::platform::IDirectoryNames>& names) override;
    uint32_t GetPrimaryDomainController(const std::wstring& domain,
                                        std::wstring& controller) override;
    uint32_t EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) override;
    std::wstring DescribeBindFailure(const std::wstring& target, uint32_t code) override;

    // For the fake's own searches and name handles.
    void Note(const std::wstring& request) { requests_.push_back(request); }
    std::vector<Row> RowsFor(const std::wstring& filter) const;
    std::map<std::wstring, std::wstring> crackedNames;
    struct SchemaName {
        kx::platform::SchemaGuidType type;
        std::wstring name;
    };
    std::map<std::wstring, SchemaName> schemaNames;  // by lower-case GUID text

private:
    std::vector<std::pair<std::wstring, Row>> rows_;
    std::map<std::wstring, Row> objects_;
    std::map<std::wstring, std::wstring> controllers_;
    std::vector<std::wstring> requests_;
};
