// The Group Policy template, deploy/KorvexAgent.admx with its language file
// en-US/KorvexAgent.adml, against the settings code: what each policy makes
// Group Policy write into the policy key, enabled and disabled, is what the
// agent's settings functions read back, and every text and presentation the
// template names is in the language file.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>

#include "RegistrySandbox.h"
#include "TempDirectory.h"
#include "alertlog/XMLReader.h"
#include "common/RegFile.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "platform/Registry.h"

namespace platform = kx::platform;

namespace {

struct CElement {
    std::wstring name;
    std::map<std::wstring, std::wstring> attributes;
    std::vector<std::unique_ptr<CElement>> children;
    std::wstring text;

    std::wstring Attribute(const std::wstring& key) const {
        auto found = attributes.find(key);
        return found == attributes.end() ? L"" : found->second;
    }
    const CElement* Child(const std::wstring& childName) const {
        for (const auto& child : children) {
            if (child->name == childName) return child.get();
        }
        return nullptr;
    }
    // Every element of that name below this one, in document order.
    void Collect(const std::wstring& wanted, std::vector<const CElement*>* found) const {
        for (const auto& child : children) {
            if (child->name == wanted) found->push_back(child.get());
            child->Collect(wanted, found);
        }
    }
    std::vector<const CElement*> All(const std::wstring& wanted) const {
        std::vector<const CElement*> found;
        Collect(wanted, &found);
        return found;
    }
};

// The document as a tree, through the agent's own XML reader.
class CTreeReader : public CXMLReader {
public:
    CTreeReader() { open_.push_back(&root_); }
    const CElement& Root() const { return root_; }

    int32_t OnStartElement(const wchar_t*, const wchar_t* localName,
                           const CXMLAttributeList& attributes, int32_t isEmpty) override {
        auto element = std::make_unique<CElement>();
        element->name = localName;
        for (const CXMLAttribute& attribute : attributes) {
            if (attribute.Prefix.empty())
                element->attributes[attribute.LocalName] = attribute.Value;
        }
        CElement* added = element.get();
        open_.back()->children.push_back(std::move(element));
        if (!isEmpty) open_.push_back(added);
        return 1;
    }
    int32_t OnEndElement(const wchar_t*, const wchar_t*) override {
        if (open_.size() > 1) open_.pop_back();
        return 1;
    }
    int32_t OnText(const wchar_t* value) override {
        open_.back()->text += value;
        return 1;
    }

private:
    CElement root_;
    std::vector<CElement*> open_;
};

std::unique_ptr<CTreeReader> ReadDocument(const std::string& path) {
    std::string bytes = ReadFileBytes(path);
    // The reader takes the text as UTF-16: the declaration's "utf-8" goes.
    if (bytes.rfind("<?xml", 0) == 0) bytes.erase(0, bytes.find("?>") + 2);
    auto reader = std::make_unique<CTreeReader>();
    const std::wstring text = kx::Utf8ToWide(bytes);
    EXPECT_EQ(reader->ParseXml(text.c_str()), 0) << path;
    EXPECT_EQ(reader->Root().children.size(), 1u) << path << " did not parse whole";
    return reader;
}

// A value Group Policy writes, or deletes (deleted set).
struct WrittenValue {
    std::wstring key;
    std::wstring name;
    uint32_t type = 0;
    std::wstring text;  // a REG_DWORD in decimal
    bool deleted = false;
};

// What the agent reads from the policy key: a value Group Policy is to
// set, the sample the test sets it to, and the settings function that
// reads it (its answer as text).
struct ReadSetting {
    const wchar_t* name;
    uint32_t type;
    const wchar_t* sample;
    std::function<std::wstring()> read;
    const wchar_t* whenDisabled;  // what the agent reads once the policy is disabled
};

const std::vector<ReadSetting>& AgentSettings() {
    static const std::vector<ReadSetting> settings = {
        {L"EnableWorkstationAuditAgent", platform::kRegDword, L"1",
         [] { return std::to_wstring(GetEnableWorkstationAuditAgent()); }, L"0"},
        {L"KFSServer", platform::kRegSz, L"kfs.corp.example.test", GetKFSServer, L"localhost"},
        {L"KFSPort", platform::kRegSz, L"15602", GetKFSPort, L"15601"},
        {L"KFSUseHttps", platform::kRegDword, L"1",
         [] { return std::to_wstring(GetKFSUseHttps()); }, L"0"},
        {L"KFSCACertificates", platform::kRegSz, L"C:\\Program Files\\Korvex\\ca.pem",
         GetKFSCACertificates, L""},
    };
    return settings;
}

const ReadSetting* FindSetting(const std::wstring& name) {
    for (const ReadSetting& setting : AgentSettings()) {
        if (name == setting.name) return &setting;
    }
    return nullptr;
}

// The registry value a decimal element of enabledValue/disabledValue, or a
// list element, makes.
WrittenValue FixedValue(const std::wstring& key, const std::wstring& name, const CElement& value) {
    if (const CElement* decimal = value.Child(L"decimal")) {
        return {key, name, platform::kRegDword, decimal->Attribute(L"value")};
    }
    if (const CElement* string = value.Child(L"string")) {
        return {key, name, platform::kRegSz, string->text};
    }
    if (value.Child(L"delete")) return {key, name, 0, L"", true};
    ADD_FAILURE() << "unknown value form in " << kx::WideToUtf8(name);
    return {};
}

// What an element of a policy makes Group Policy write when the policy is
// enabled with the sample: text as REG_SZ (REG_EXPAND_SZ when expandable),
// decimal as REG_DWORD unless stored as text.
WrittenValue ElementValue(const std::wstring& policyKey, const CElement& element) {
    WrittenValue value;
    value.key = element.Attribute(L"key").empty() ? policyKey : element.Attribute(L"key");
    value.name = element.Attribute(L"valueName");
    const ReadSetting* setting = FindSetting(value.name);
    value.text = setting ? setting->sample : L"unknown";
    if (element.name == L"text") {
        value.type =
            element.Attribute(L"expandable") == L"true" ? platform::kRegExpandSz : platform::kRegSz;
    } else if (element.name == L"decimal") {
        value.type =
            element.Attribute(L"storeAsText") == L"true" ? platform::kRegSz : platform::kRegDword;
    } else {
        ADD_FAILURE() << "element " << kx::WideToUtf8(element.name) << " is not checked here";
    }
    return value;
}

std::vector<WrittenValue> GroupPolicyWrites(const CElement& policy, bool enabled) {
    std::vector<WrittenValue> values;
    const std::wstring key = policy.Attribute(L"key");
    const std::wstring valueName = policy.Attribute(L"valueName");
    if (!valueName.empty()) {
        const CElement* fixed = policy.Child(enabled ? L"enabledValue" : L"disabledValue");
        if (fixed) {
            values.push_back(FixedValue(key, valueName, *fixed));
        } else {
            values.push_back({key, valueName, platform::kRegDword, enabled ? L"1" : L"0"});
        }
    }
    if (const CElement* elements = policy.Child(L"elements")) {
        for (const auto& element : elements->children) {
            WrittenValue value = ElementValue(key, *element);
            value.deleted = !enabled;
            values.push_back(value);
        }
    }
    return values;
}

void Apply(const WrittenValue& value) {
    platform::RegistryKeyHandle key = 0;
    ASSERT_EQ(platform::RegistryCreateKey(platform::kHkeyLocalMachine, value.key,
                                          platform::kKeyWrite, &key),
              0u);
    if (value.deleted) {
        platform::RegistryDeleteValue(key, value.name);
    } else {
        std::string data = value.type == platform::kRegDword
                               ? kx::RegDwordData(static_cast<uint32_t>(std::stoul(value.text)))
                               : kx::RegStringData(value.text);
        EXPECT_EQ(platform::RegistrySetValue(key, value.name, value.type, data.data(),
                                             static_cast<uint32_t>(data.size())),
                  0u);
    }
    platform::RegistryCloseKey(key);
}

class GroupPolicyTemplateTest : public ::testing::Test {
protected:
    std::unique_ptr<CTreeReader> admx = ReadDocument(KX_DEPLOY_DIR "/KorvexAgent.admx");
    std::unique_ptr<CTreeReader> adml = ReadDocument(KX_DEPLOY_DIR "/en-US/KorvexAgent.adml");
    CRegistrySandbox machine{CRegistrySandbox::SettingsKeys()};
};

// The names inside "$(kind.name)" of every attribute below the element.
std::set<std::wstring> References(const CElement& element, const std::wstring& kind) {
    std::set<std::wstring> names;
    const std::wstring open = L"$(" + kind + L".";
    for (const auto& [name, value] : element.attributes) {
        if (value.rfind(open, 0) == 0 && value.back() == L')') {
            names.insert(value.substr(open.size(), value.size() - open.size() - 1));
        }
    }
    for (const auto& child : element.children) names.merge(References(*child, kind));
    return names;
}

}  // namespace

TEST_F(GroupPolicyTemplateTest, EveryTextAndPresentationTheTemplateNamesIsInTheLanguageFile) {
    std::set<std::wstring> strings;
    for (const CElement* string : adml->Root().All(L"string")) {
        EXPECT_TRUE(strings.insert(string->Attribute(L"id")).second)
            << "twice: " << kx::WideToUtf8(string->Attribute(L"id"));
        EXPECT_FALSE(kx::Trim(string->text).empty()) << kx::WideToUtf8(string->Attribute(L"id"));
    }
    for (const std::wstring& name : References(admx->Root(), L"string")) {
        EXPECT_EQ(strings.count(name), 1u) << "no string " << kx::WideToUtf8(name);
    }
    std::map<std::wstring, const CElement*> presentations;
    for (const CElement* presentation : adml->Root().All(L"presentation")) {
        presentations[presentation->Attribute(L"id")] = presentation;
    }
    const std::map<std::wstring, std::wstring> controls = {{L"text", L"textBox"},
                                                           {L"decimal", L"decimalTextBox"}};
    for (const CElement* policy : admx->Root().All(L"policy")) {
        const std::wstring name = policy->Attribute(L"name");
        const CElement* elements = policy->Child(L"elements");
        std::set<std::wstring> presentationRefs = References(*policy, L"presentation");
        if (!elements) {
            EXPECT_TRUE(presentationRefs.empty()) << kx::WideToUtf8(name);
            continue;
        }
        ASSERT_EQ(presentationRefs.size(), 1u) << kx::WideToUtf8(name) << " has no presentation";
        auto found = presentations.find(*presentationRefs.begin());
        ASSERT_NE(found, presentations.end()) << "no presentation for " << kx::WideToUtf8(name);
        std::map<std::wstring, std::wstring> shown;  // refId -> control
        for (const auto& control : found->second->children) {
            shown[control->Attribute(L"refId")] = control->name;
        }
        for (const auto& element : elements->children) {
            const std::wstring id = element->Attribute(L"id");
            ASSERT_EQ(shown.count(id), 1u)
                << kx::WideToUtf8(name) << ": nothing shows " << kx::WideToUtf8(id);
            EXPECT_EQ(shown[id], controls.at(element->name)) << kx::WideToUtf8(id);
            shown.erase(id);
        }
        EXPECT_TRUE(shown.empty()) << kx::WideToUtf8(name) << ": a control shows no element";
    }
}

TEST_F(GroupPolicyTemplateTest, WhatEachPolicyWritesIsWhatTheAgentReads) {
    std::set<std::wstring> written;
    for (const CElement* policy : admx->Root().All(L"policy")) {
        const std::string name = kx::WideToUtf8(policy->Attribute(L"name"));
        EXPECT_EQ(policy->Attribute(L"class"), L"Machine") << name;
        for (bool enabled : {true, false}) {
            for (const WrittenValue& value : GroupPolicyWrites(*policy, enabled)) {
                const std::string valueName = kx::WideToUtf8(value.name);
                EXPECT_EQ(value.key, kPolicySettingsKey) << name << " " << valueName;
                const ReadSetting* setting = FindSetting(value.name);
                ASSERT_NE(setting, nullptr)
                    << name << " writes " << valueName << ", which the agent does not read";
                written.insert(value.name);
                Apply(value);
                const std::wstring expected = enabled ? setting->sample : setting->whenDisabled;
                if (!value.deleted) {
                    EXPECT_EQ(value.type, setting->type) << valueName;
                    EXPECT_EQ(value.text, expected) << valueName;
                }
                if (setting->read) {
                    EXPECT_EQ(kx::WideToUtf8(setting->read()), kx::WideToUtf8(expected))
                        << name << (enabled ? " enabled: " : " disabled: ") << valueName;
                }
            }
        }
    }
    for (const ReadSetting& setting : AgentSettings()) {
        EXPECT_EQ(written.count(setting.name), 1u)
            << "no policy sets " << kx::WideToUtf8(setting.name);
    }
}
