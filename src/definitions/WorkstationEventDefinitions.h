#pragma once
// The set of event definitions that the agent holds: parsed from the
// definitions document, kept in document order, and asked for every record
// the agent reads whether any definition carries its event code.

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "alertlog/XMLReader.h"
#include "definitions/XMLEventDefinition.h"

class CWorkstationEventDefinitions : public CXMLReader {
public:
    // The result of a load stopped by a field that came before its record.
    static constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057);

    // Makes the set and at once refreshes it (Update): the local copy first,
    // then the server's document when its version differs.
    CWorkstationEventDefinitions();
    // A set that starts empty and asks nobody, for tools and tests.
    struct WithoutRefresh {};
    static constexpr WithoutRefresh kWithoutRefresh{};
    explicit CWorkstationEventDefinitions(WithoutRefresh) {}
    ~CWorkstationEventDefinitions() override = default;
    CWorkstationEventDefinitions(const CWorkstationEventDefinitions&) = delete;
    CWorkstationEventDefinitions& operator=(const CWorkstationEventDefinitions&) = delete;

    // Replaces the whole set with what text holds (null or empty: an empty
    // set). Returns ParseXml's result (0 also when malformed XML stopped the
    // parse, keeping what came before), or kInvalidArgument when a field
    // came before the record it belongs to (again keeping what came before).
    // Success, error text and version are left as they are.
    int32_t LoadFromXml(const wchar_t* text);
    int32_t LoadFromXml(const std::wstring& text) { return LoadFromXml(text.c_str()); }

    // 1 when some definition's EventCode equals the low 16 bits of eventId.
    // Constant time and free of allocation: it runs for every record read.
    int32_t IsCandidateEvent(uint32_t eventId) const noexcept {
        return candidates_[eventId & 0xFFFF] ? 1 : 0;
    }

    // Keeps the set and the local copy in step with the server. Returns 3 when
    // the server gave no version number, 0 when nothing had to be downloaded,
    // else the load's result or the failed request's error code.
    int32_t Update();
    // The operating system's version, "major.minor", from the registry.
    static std::wstring GetOsVersion();
    // The local copy "KXEventDefinitions.xml" next to the executable.
    static std::wstring GetLocalDefinitionsPath();
    static std::wstring ReadLocalDefinitions();
    static void WriteLocalDefinitions(const std::wstring& text);

    int32_t OnStartElement(const wchar_t* prefix, const wchar_t* localName,
                           const CXMLAttributeList& attributes, int32_t isEmpty) override;
    int32_t OnEndElement(const wchar_t* prefix, const wchar_t* localName) override;
    int32_t OnText(const wchar_t* value) override;

    // The first definition, in document order, that selects the record; null
    // when none does.
    CXMLEventDefinition* FindDefinition(CEventLogEntry* record) const;

    const std::vector<std::unique_ptr<CXMLEventDefinition>>& GetDefinitions() const {
        return definitions_;
    }
    int32_t GetSuccess() const { return success_; }
    // The document loaded last was read to the end of its root element: a
    // document cut short never closes it.
    bool IsComplete() const { return complete_; }
    const std::wstring& GetErrorText() const { return errorText_; }
    // A whole definitions set has been held: the local copy was loaded or a
    // download succeeded. Until then nothing can be told wanted or not.
    bool HasHeldASet() const { return held_; }
    // The version number of the definitions held; empty until one is taken.
    const std::wstring& GetVersion() const { return version_; }
    void SetVersion(const std::wstring& version) { version_ = version; }

    // The element names that carry data, in the order OnText tests them.
    enum class Field {
        None,
        Error,
        Success,
        EventDefinitionID,
        DefinitionName,
        DefinitionType,
        EventDefinitionCode,
        ADVersion,
        LogName,
        EventCategory,
        EventCategoryID,
        EventSource,
        EventType,
        EventTypeID,
        EventCode,
        Priority,
        IsIncluded,
        IsEnabled,
        IsHidden,
        FormatText,
        StringNumber,
        StringValue,
        PropertyCode,
        PropertyValue,
        PropertyType,
        StoreInDatabase,
    };

private:
    // A downloaded document replaces the set only when it says it is one.
    bool DeclaresSuccess() const { return success_ == 1 && complete_; }
    void TakeSetFrom(CWorkstationEventDefinitions& downloaded);
    void Clear();
    void RebuildCandidates();
    void ApplyText(const std::wstring& text);
    void ApplyDefinitionField(CXMLEventDefinition& definition, const std::wstring& text);
    void ApplyRuleField(CXMLEventDefinition& definition, const std::wstring& text);
    CXMLEventDefinition& LastDefinition();

    std::vector<std::unique_ptr<CXMLEventDefinition>> definitions_;
    std::wstring currentElement_;  // local name of the element opened last
    Field currentField_ = Field::None;
    // The element opened last has been closed: white space after it is the
    // indentation of an indented document, not the element's text.
    bool currentElementClosed_ = false;
    int32_t openElements_ = 0;  // elements opened and not yet closed
    bool complete_ = false;
    std::wstring errorText_;
    int32_t success_ = 0;
    std::wstring version_;
    bool held_ = false;
    std::bitset<65536> candidates_;  // event codes that some definition carries
};
