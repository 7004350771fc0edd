// Every property rule of the realistic definitions reads the insertion strings
// that its code stands for. An event's layout is taken from its text in the
// project's Security message file, where each insert sits under a section and
// a label ("New account:" ... "Account Name:" %1); property-fields.txt beside
// this test says which fields fit each property code. The expected alerts of
// the recorded logs are worked out from the same definitions, so they cannot
// see a rule that reads the wrong string.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "TempDirectory.h"
#include "common/Text.h"
#include "definitions/WorkstationEventDefinitions.h"
#include "platform/WineDetection.h"

namespace {

// Insert number → "Section: Label".
using Layout = std::map<int32_t, std::string>;
// Property code → a field (or "field\field", "field|field") that fits it.
using Fits = std::multimap<std::string, std::string>;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// One message text: a piece between "%n"s that ends in a colon opens a
// section; one with a colon and an insert after it is a field.
Layout ParseLayout(const std::string& text) {
    Layout layout;
    std::string section;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find("%n", start);
        if (end == std::string::npos) end = text.size();
        std::string piece = text.substr(start, end - start);
        start = end + 2;
        while (piece.rfind("%t", 0) == 0) piece.erase(0, 2);
        const std::size_t colon = piece.find(':');
        if (colon == std::string::npos) continue;
        const std::size_t insert = piece.rfind('%');
        if (insert == std::string::npos || insert < colon) {
            section = piece.substr(0, colon);
            continue;
        }
        layout[kx::ParseDecimal(kx::Utf8ToWide(piece.substr(insert + 1)))] =
            section + ": " + piece.substr(0, colon);
    }
    return layout;
}

// The layout of every message of the .mc file, by message identifier.
std::map<int32_t, Layout> ReadLayouts() {
    std::map<int32_t, Layout> layouts;
    int32_t id = -1;
    bool inText = false;
    std::string text;
    for (const std::string& line : Lines(ReadFileBytes(KX_SECURITY_MESSAGES_SOURCE))) {
        if (inText && line == ".") {
            layouts[id] = ParseLayout(text);
            inText = false;
        } else if (inText) {
            text += line;
        } else if (line.rfind("MessageId=", 0) == 0) {
            id = kx::ParseDecimal(kx::Utf8ToWide(line.substr(10)));
        } else if (line.rfind("Language=", 0) == 0) {
            inText = true;
            text.clear();
        }
    }
    return layouts;
}

Fits ReadFits() {
    Fits fits;
    for (const std::string& line : Lines(ReadFileBytes(KX_PROPERTY_FIELDS))) {
        const std::size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
        fits.emplace(line.substr(0, tab), line.substr(tab + 1));
    }
    return fits;
}

std::string FieldOf(const Layout& layout, std::wstring_view number) {
    const auto found = layout.find(kx::ParseDecimal(number));
    return found == layout.end() ? "(no insert " + kx::WideToUtf8(number) + ")" : found->second;
}

// The field or fields that a rule's PropertyValue names: "n", or two numbers
// joined by a backslash or slash (an account) or a bar (the object finders).
std::string FieldsRead(const CXMLEventDefinitionProperty& rule, const Layout& layout) {
    const std::wstring_view value = rule.PropertyValue;
    const std::size_t separator = value.find_first_of(L"\\/|");
    if (separator == std::wstring_view::npos) return FieldOf(layout, value);
    const char joint = value[separator] == L'|' ? '|' : '\\';
    return FieldOf(layout, value.substr(0, separator)) + joint +
           FieldOf(layout, value.substr(separator + 1));
}

std::string FitsOf(const Fits& fits, const std::string& code) {
    std::string text;
    for (auto [at, end] = fits.equal_range(code); at != end; ++at)
        text += (text.empty() ? "" : " or ") + at->second;
    return text.empty() ? "(the code is not in the table)" : text;
}

bool Fit(const Fits& fits, const std::string& code, const std::string& field) {
    for (auto [at, end] = fits.equal_range(code); at != end; ++at)
        if (at->second == field) return true;
    return false;
}

TEST(PropertyFieldsTest, EveryRealisticPropertyReadsAFieldThatFitsItsCode) {
    if (kx::platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's xmllite misreads UTF-16 documents longer than 8 KB";
    const std::map<int32_t, Layout> layouts = ReadLayouts();
    const Fits fits = ReadFits();
    CWorkstationEventDefinitions set{CWorkstationEventDefinitions::kWithoutRefresh};
    ASSERT_EQ(set.LoadFromXml(kx::Utf8ToWide(ReadFileBytes(KX_DEFINITIONS_DOCUMENT))), 0);
    ASSERT_FALSE(set.GetDefinitions().empty());

    std::string misfits;
    for (const auto& definition : set.GetDefinitions()) {
        const std::string name = kx::WideToUtf8(definition->EventDefinitionCode);
        const auto layout = layouts.find(definition->EventCode);
        if (layout == layouts.end() || layout->second.empty()) {
            misfits += name + ": the message file has no text of its event\n";
            continue;
        }
        for (const auto& rule : definition->PropertyRules) {
            const std::string code = kx::WideToUtf8(rule->PropertyCode);
            const std::string read = FieldsRead(*rule, layout->second);
            if (!Fit(fits, code, read)) {
                misfits += name + " " + code + " " + kx::WideToUtf8(rule->PropertyValue) +
                           " reads \"" + read + "\"; fits: " + FitsOf(fits, code) + "\n";
            }
        }
    }
    EXPECT_TRUE(misfits.empty()) << misfits;
}

}  // namespace
