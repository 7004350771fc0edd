#include "FakeDirectory.h"

#include "common/Format.h"
#include "common/LdapPath.h"
#include "common/Text.h"

using namespace kx::platform;

namespace {

class FakeSearch : public IDirectorySearch {
public:
    explicit FakeSearch(CFakeDirectory& directory) : directory_(directory) {}
    uint32_t SetSearchPreference(const std::vector<SearchPreference>& preferences) override {
        for (const SearchPreference& preference : preferences) {
            directory_.Note(kx::Format(L"preference %u=%u", static_cast<uint32_t>(preference.kind),
                                       preference.value));
        }
        return 0;
    }
    uint32_t ExecuteSearch(const std::wstring& filter, const std::vector<std::wstring>&) override {
        directory_.Note(L"search " + filter);
        if (directory_.searchCode) return directory_.searchCode;
        rows_ = directory_.RowsFor(filter);
        next_ = 0;
        return 0;
    }
    uint32_t GetNextRow() override {
        if (next_ >= rows_.size()) return kDirectoryNoMoreRows;
        current_ = rows_[next_++];
        return 0;
    }
    uint32_t GetStringColumn(const std::wstring& name, std::wstring& value) override {
        auto found = current_.find(name);
        if (found == current_.end()) return kDirectoryNoColumn;
        value = found->second;
        return 0;
    }
    uint32_t GetOctetColumn(const std::wstring& name, std::vector<uint8_t>& value) override {
        auto found = current_.find(name);
        kx::Guid guid;
        if (found == current_.end() || !kx::ParseGuid(found->second, guid))
            return kDirectoryNoColumn;
        value.assign(guid.begin(), guid.end());
        return 0;
    }
    uint32_t CloseSearchHandle() override { return 0; }

private:
    CFakeDirectory& directory_;
    std::vector<CFakeDirectory::Row> rows_;
    std::size_t next_ = 0;
    CFakeDirectory::Row current_;
};

class FakeObject : public IDirectoryObject {
public:
    explicit FakeObject(CFakeDirectory::Row attributes) : attributes_(std::move(attributes)) {}
    uint32_t Get(const std::wstring& name, std::wstring& value) override {
        auto found = attributes_.find(name);
        if (found == attributes_.end()) return kDirectoryPropertyNotFound;
        value = found->second;
        return 0;
    }

private:
    CFakeDirectory::Row attributes_;
};

class FakeNames : public IDirectoryNames {
public:
    explicit FakeNames(CFakeDirectory& directory) : directory_(directory) {}
    uint32_t CrackName(NameFormat, NameFormat, const std::wstring& name, uint32_t& status,
                       std::wstring& result) override {
        directory_.Note(L"crack " + name);
        if (directory_.namesCode) return directory_.namesCode;
        auto found = directory_.crackedNames.find(name);
        status = found == directory_.crackedNames.end() ? kNameNotFound : kNameNoError;
        if (found != directory_.crackedNames.end()) result = found->second;
        return 0;
    }
    uint32_t MapSchemaGuid(const GuidBytes& guid, SchemaGuidType& type,
                           std::wstring& name) override {
        kx::Guid copy;
        std::copy(guid.begin(), guid.end(), copy.begin());
        const std::wstring text = kx::ToLower(kx::FormatGuid(copy));
        directory_.Note(L"map " + text);
        if (directory_.namesCode) return directory_.namesCode;
        auto found = directory_.schemaNames.find(text);
        type =
            found == directory_.schemaNames.end() ? SchemaGuidType::NotFound : found->second.type;
        if (found != directory_.schemaNames.end()) name = found->second.name;
        return 0;
    }

private:
    CFakeDirectory& directory_;
};

}  // namespace

CFakeDirectory::CFakeDirectory() {
    SetDirectoryForTesting(this);
}

CFakeDirectory::~CFakeDirectory() {
    SetDirectoryForTesting(nullptr);
}

void CFakeDirectory::AddRow(const std::wstring& filterPart, const Row& row) {
    rows_.emplace_back(filterPart, row);
}

void CFakeDirectory::AddObject(const std::wstring& path, const Row& attributes) {
    objects_[path] = attributes;
}

void CFakeDirectory::AddCrackedName(const std::wstring& name, const std::wstring& dn) {
    crackedNames[name] = dn;
}

void CFakeDirectory::AddSchemaGuid(const std::wstring& guidText, SchemaGuidType type,
                                   const std::wstring& name) {
    schemaNames[kx::ToLower(guidText)] = {type, name};
}

void CFakeDirectory::AddPrimaryDomainController(const std::wstring& domain,
                                                const std::wstring& controller) {
    controllers_[domain] = controller;
}

int CFakeDirectory::Count(const std::wstring& kind) const {
    int count = 0;
    for (const std::wstring& request : requests_) {
        if (request.rfind(kind, 0) == 0) ++count;
    }
    return count;
}

std::vector<CFakeDirectory::Row> CFakeDirectory::RowsFor(const std::wstring& filter) const {
    std::vector<Row> rows;
    for (const auto& [part, row] : rows_) {
        if (filter.find(part) != std::wstring::npos) rows.push_back(row);
    }
    return rows;
}

std::unique_ptr<IDirectoryPathname> CFakeDirectory::CreatePathname(uint32_t& code) {
    code = 0;
    return std::make_unique<CLdapPath>();
}

uint32_t CFakeDirectory::OpenSearch(const std::wstring& path,
                                    std::unique_ptr<IDirectorySearch>& search) {
    Note(L"open " + path);
    if (openCode) return openCode;
    search = std::make_unique<FakeSearch>(*this);
    return 0;
}

uint32_t CFakeDirectory::GetObject(const std::wstring& path,
                                   std::unique_ptr<IDirectoryObject>& object) {
    Note(L"get " + path);
    auto found = objects_.find(path);
    if (found == objects_.end()) return objectCode ? objectCode : kDirectoryNoSuchObject;
    object = std::make_unique<FakeObject>(found->second);
    return 0;
}

uint32_t CFakeDirectory::Bind(const std::wstring& server, std::shared_ptr<IDirectoryNames>& names) {
    Note(L"bind " + server);
    if (bindCode) return bindCode;
    names = std::make_shared<FakeNames>(*this);
    return 0;
}

uint32_t CFakeDirectory::GetPrimaryDomainController(const std::wstring& domain,
                                                    std::wstring& controller) {
    Note(L"pdc " + domain);
    auto found = controllers_.find(domain);
    if (found == controllers_.end()) return kErrorNoSuchDomain;
    controller = found->second;
    return 0;
}

uint32_t CFakeDirectory::EncodeBinaryData(const std::vector<uint8_t>& bytes, std::wstring& text) {
    Note(L"encode");
    if (encodeCode) return encodeCode;
    text.clear();
    for (uint8_t byte : bytes) text += kx::Format(L"\\%02x", byte);
    return 0;
}

std::wstring CFakeDirectory::DescribeBindFailure(const std::wstring&, uint32_t code) {
    if (code == 0 || code == kx::platform::kDirectoryNoSuchObject) return L"";
    return bindFailure;
}
