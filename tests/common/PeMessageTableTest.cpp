// The PE message table reader: the message files the build makes, images
// built here byte by byte to be odd or damaged, and every damaged variant of
// a real file (run under AddressSanitizer, a read past the bytes fails).

#include "common/PeMessageTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TempDirectory.h"
#include "TestData.h"
#include "common/Text.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& bytes, std::size_t offset, uint32_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2);
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t offset, uint32_t value) {
    Put16(bytes, offset, value & 0xFFFF);
    Put16(bytes, offset + 2, value >> 16);
}

struct Message {
    uint16_t flags;
    Bytes text;  // as stored, NUL included
};

Bytes Utf16(const std::wstring& text) {
    std::string bytes = kx::WideToUtf16LE(text);
    Bytes result(bytes.begin(), bytes.end());
    result.push_back(0);
    result.push_back(0);
    return result;
}

Bytes Narrow(const std::string& text) {
    Bytes result(text.begin(), text.end());
    result.push_back(0);
    return result;
}

// A MESSAGE_RESOURCE_DATA with one block per entry of blocks (its low id and
// its messages), the entries padded to 4 bytes as message compilers pad them.
Bytes MessageTable(const std::vector<std::pair<uint32_t, std::vector<Message>>>& blocks) {
    Bytes table;
    Put32(table, 0, static_cast<uint32_t>(blocks.size()));
    std::size_t position = 4 + 12 * blocks.size();
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto& [low, messages] = blocks[b];
        Put32(table, 4 + 12 * b, low);
        Put32(table, 8 + 12 * b, low + static_cast<uint32_t>(messages.size()) - 1);
        Put32(table, 12 + 12 * b, static_cast<uint32_t>(position));
        for (const Message& message : messages) {
            std::size_t length = (4 + message.text.size() + 3) & ~std::size_t(3);
            Put16(table, position, static_cast<uint32_t>(length));
            Put16(table, position + 2, message.flags);
            table.resize(position + length, 0);
            std::memcpy(table.data() + position + 4, message.text.data(), message.text.size());
            position += length;
        }
    }
    return table;
}

// A PE image (PE32+, or PE32) whose one section holds a resource directory
// with the message tables given, one per language. type and name let a test
// put the tables somewhere else.
Bytes Image(const std::vector<std::pair<uint16_t, Bytes>>& tables, bool pe32 = false,
            uint32_t type = 11, uint32_t name = 1) {
    constexpr uint32_t kSectionRva = 0x1000;
    constexpr std::size_t kSectionFile = 0x200;
    Bytes image(kSectionFile, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40);
    Put32(image, 0x40, 0x00004550);
    Put16(image, 0x44, pe32 ? 0x14C : 0x8664);
    Put16(image, 0x46, 1);  // sections
    const uint32_t optionalSize = pe32 ? 224 : 240;
    Put16(image, 0x54, optionalSize);
    const std::size_t optional = 0x58;
    Put16(image, optional, pe32 ? 0x10B : 0x20B);
    const std::size_t directories = optional + (pe32 ? 96 : 112);
    Put32(image, directories - 4, 16);

    Bytes resources;
    const std::size_t languages = tables.size();
    Put16(resources, 14, 1);  // root: one numbered entry
    Put32(resources, 16, type);
    Put32(resources, 20, 0x80000000 | 0x18);
    Put16(resources, 0x18 + 14, 1);
    Put32(resources, 0x18 + 16, name);
    Put32(resources, 0x18 + 20, 0x80000000 | 0x30);
    Put16(resources, 0x30 + 14, static_cast<uint32_t>(languages));
    const std::size_t dataEntries = 0x40 + 8 * languages;
    std::size_t data = dataEntries + 16 * languages;
    for (std::size_t i = 0; i < languages; ++i) {
        Put32(resources, 0x40 + 8 * i, tables[i].first);
        Put32(resources, 0x44 + 8 * i, static_cast<uint32_t>(dataEntries + 16 * i));
        Put32(resources, dataEntries + 16 * i, kSectionRva + static_cast<uint32_t>(data));
        Put32(resources, dataEntries + 16 * i + 4, static_cast<uint32_t>(tables[i].second.size()));
        resources.resize(data);
        resources.insert(resources.end(), tables[i].second.begin(), tables[i].second.end());
        data = (resources.size() + 3) & ~std::size_t(3);
    }
    Put32(image, directories + 16, kSectionRva);
    Put32(image, directories + 20, static_cast<uint32_t>(resources.size()));
    const std::size_t section = optional + optionalSize;
    std::memcpy(image.data() + section, ".rsrc", 5);
    Put32(image, section + 8, static_cast<uint32_t>(resources.size()));
    Put32(image, section + 12, kSectionRva);
    Put32(image, section + 16, static_cast<uint32_t>(resources.size()));
    Put32(image, section + 20, kSectionFile);
    image.insert(image.end(), resources.begin(), resources.end());
    return image;
}

std::wstring Find(const kx::CPeMessageTable& table, uint32_t id, uint32_t* error = nullptr) {
    std::wstring text;
    uint32_t result = table.FindMessage(id, text);
    if (error) *error = result;
    return result == 0 ? text : L"<" + std::to_wstring(result) + L">";
}

Bytes FileBytes(const std::wstring& name) {
    std::string bytes = ReadFileBytes(kx::WideToUtf8(TestMessageFilePath(name)));
    return Bytes(bytes.begin(), bytes.end());
}

TEST(PeMessageTable, ReadsTheBuiltMessageFiles) {
    for (const wchar_t* name : {L"kx_event_messages.dll", L"kx_event_messages32.dll"}) {
        kx::CPeMessageTable table;
        ASSERT_EQ(table.Load(FileBytes(name)), 0u);
        EXPECT_EQ(table.Language(), 0x409);
        EXPECT_EQ(table.MessageCount(), 10u);
        EXPECT_EQ(Find(table, 100), L"%1 and %2 and %3\r\n");
        EXPECT_EQ(Find(table, 0x40001000), L"Informational message with code 4096 from %1.\r\n");
        EXPECT_EQ(Find(table, 4096), L"<317>");
    }
    kx::CPeMessageTable parameters;
    ASSERT_EQ(parameters.Load(FileBytes(L"kx_parameter_messages.dll")), 0u);
    EXPECT_EQ(Find(parameters, 1833), L"Yes\r\n");
    EXPECT_EQ(Find(parameters, 1900), L"Caf\u00e9\r\n");
    kx::CPeMessageTable retry;
    ASSERT_EQ(retry.Load(FileBytes(L"kx_retry_messages.dll")), 0u);
    EXPECT_EQ(retry.MessageCount(), 1u);
    EXPECT_EQ(Find(retry, 0xB0001200), L"Found on the second try: %1.\r\n");
}

TEST(PeMessageTable, TextEncodings) {
    kx::CPeMessageTable table;
    ASSERT_EQ(
        table.Load(Image({{0x409, MessageTable({{7,
                                                 {{1, Utf16(L"wide \u20ac\r\n")},
                                                  {0, Narrow("ansi \x80\xe9\r\n")},
                                                  {2, Narrow("utf8 \xe2\x82\xac\r\n")}}}})}})),
        0u);
    EXPECT_EQ(Find(table, 7), L"wide \u20ac\r\n");
    EXPECT_EQ(Find(table, 8), L"ansi \u20ac\u00e9\r\n");
    EXPECT_EQ(Find(table, 9), L"utf8 \u20ac\r\n");
    EXPECT_EQ(Find(table, 10), L"<317>");
}

TEST(PeMessageTable, Pe32AndPe32PlusAlike) {
    const Bytes table = MessageTable({{5, {{1, Utf16(L"five")}}}});
    for (bool pe32 : {false, true}) {
        kx::CPeMessageTable reader;
        ASSERT_EQ(reader.Load(Image({{0x409, table}}, pe32)), 0u);
        EXPECT_EQ(Find(reader, 5), L"five");
    }
}

TEST(PeMessageTable, LanguageChoice) {
    auto chosen = [](const std::vector<uint16_t>& languages) {
        std::vector<std::pair<uint16_t, Bytes>> tables;
        for (uint16_t language : languages) {
            tables.push_back(
                {language, MessageTable({{1, {{1, Utf16(std::to_wstring(language))}}}})});
        }
        kx::CPeMessageTable table;
        table.Load(Image(tables));
        return Find(table, 1);
    };
    EXPECT_EQ(chosen({0x407, 0x409}), L"1033");
    EXPECT_EQ(chosen({0x407, 0x409, 0}), L"0");
    EXPECT_EQ(chosen({0x407, 0x400, 0x409}), L"1024");
    EXPECT_EQ(chosen({0x407, 0x809}), L"1031");
}

TEST(PeMessageTable, WhatIsNotAPeImage) {
    kx::CPeMessageTable table;
    EXPECT_EQ(table.Load(Bytes()), 193u);
    EXPECT_EQ(table.Load(Bytes{'M', 'Z'}), 193u);
    Bytes image = Image({{0x409, MessageTable({{1, {{1, Utf16(L"x")}}}})}});
    Bytes badMagic = image;
    Put16(badMagic, 0x58, 0x107);
    EXPECT_EQ(table.Load(badMagic), 193u);
    Bytes farHeader = image;
    Put32(farHeader, 0x3C, 0xFFFFFFF0);
    EXPECT_EQ(table.Load(farHeader), 193u);
    Bytes manySections = image;
    Put16(manySections, 0x46, 0xFFFF);
    EXPECT_EQ(table.Load(manySections), 193u);
}

TEST(PeMessageTable, ImagesWithoutATable) {
    const Bytes messages = MessageTable({{1, {{1, Utf16(L"x")}}}});
    kx::CPeMessageTable table;
    Bytes noResources = Image({{0x409, messages}});
    Put32(noResources, 0x58 + 112 + 16, 0);
    ASSERT_EQ(table.Load(noResources), 0u);
    EXPECT_EQ(Find(table, 1), L"<1812>");
    ASSERT_EQ(table.Load(Image({{0x409, messages}}, false, 6)), 0u);
    EXPECT_EQ(Find(table, 1), L"<1813>");
    ASSERT_EQ(table.Load(Image({{0x409, messages}}, false, 11, 2)), 0u);
    EXPECT_EQ(Find(table, 1), L"<1814>");
    ASSERT_EQ(table.Load(FileBytes(L"kx_no_messages.dll")), 0u);
    EXPECT_EQ(Find(table, 1), L"<1813>");
}

TEST(PeMessageTable, DuplicateIdentifiersKeepTheFirstBlock) {
    kx::CPeMessageTable table;
    table.Load(Image({{0x409, MessageTable({{3, {{1, Utf16(L"first")}}},
                                            {2, {{1, Utf16(L"two")}, {1, Utf16(L"second")}}}})}}));
    EXPECT_EQ(Find(table, 3), L"first");
    EXPECT_EQ(Find(table, 2), L"two");
}

TEST(PeMessageTable, BlocksThatClaimMoreThanTheirBytes) {
    Bytes messages = MessageTable({{0, {{1, Utf16(L"zero")}, {1, Utf16(L"one")}}}});
    Put32(messages, 8, 0xFFFFFFFF);  // the block claims every identifier
    kx::CPeMessageTable table;
    ASSERT_EQ(table.Load(Image({{0x409, messages}})), 0u);
    EXPECT_EQ(table.MessageCount(), 2u);
    EXPECT_EQ(Find(table, 1), L"one");
    EXPECT_EQ(Find(table, 2), L"<317>");
    EXPECT_EQ(Find(table, 0xFFFFFFFF), L"<317>");

    // Thousands of blocks over the same bytes do not multiply the index.
    const Bytes shared = MessageTable({{0, {{1, Utf16(L"shared")}}}});
    const std::size_t sharedHeader = 4 + 12;
    Bytes many;
    const uint32_t blocks = 5000;
    Put32(many, 0, blocks);
    const uint32_t entryOffset = 4 + 12 * blocks;
    for (uint32_t b = 0; b < blocks; ++b) {
        Put32(many, 4 + 12 * b, b * 1000);
        Put32(many, 8 + 12 * b, b * 1000 + 999);
        Put32(many, 12 + 12 * b, entryOffset);
    }
    many.insert(many.end(), shared.begin() + sharedHeader, shared.end());
    ASSERT_EQ(table.Load(Image({{0x409, many}})), 0u);
    EXPECT_LE(table.MessageCount(), many.size() / 4);
    EXPECT_EQ(Find(table, 0), L"shared");
}

TEST(PeMessageTable, DamagedEntriesEndTheirBlock) {
    Bytes messages =
        MessageTable({{1, {{1, Utf16(L"one")}, {1, Utf16(L"two")}, {1, Utf16(L"three")}}},
                      {100, {{1, Utf16(L"hundred")}}}});
    const std::size_t second = 4 + 24 + 12;  // table header, two blocks, first entry
    Bytes zeroLength = messages;
    Put16(zeroLength, second, 0);
    kx::CPeMessageTable table;
    ASSERT_EQ(table.Load(Image({{0x409, zeroLength}})), 0u);
    EXPECT_EQ(Find(table, 1), L"one");
    EXPECT_EQ(Find(table, 2), L"<317>");
    EXPECT_EQ(Find(table, 3), L"<317>");
    EXPECT_EQ(Find(table, 100), L"hundred");

    Bytes tooLong = messages;
    Put16(tooLong, second, 0xFFFC);
    ASSERT_EQ(table.Load(Image({{0x409, tooLong}})), 0u);
    EXPECT_EQ(Find(table, 1), L"one");
    EXPECT_EQ(Find(table, 2), L"<317>");

    Bytes manyBlocks = messages;
    Put32(manyBlocks, 0, 0xFFFFFFFF);
    Put32(manyBlocks, 12 + 12, 0xFFFFFF00);  // the second block's entries, far away
    ASSERT_EQ(table.Load(Image({{0x409, manyBlocks}})), 0u);
    EXPECT_EQ(Find(table, 3), L"three");
    EXPECT_EQ(Find(table, 100), L"<317>");
}

// Every prefix of a real message file, and every one-byte change of it,
// loads or is refused, and every lookup in it answers, inside the bytes.
TEST(PeMessageTable, EveryDamagedVariantOfARealFile) {
    const Bytes original = FileBytes(L"kx_event_messages.dll");
    ASSERT_GT(original.size(), 1024u);
    const uint32_t ids[] = {100, 101, 104, 4624, 0x40001000, 0};
    auto exercise = [&](const Bytes& image) {
        kx::CPeMessageTable table;
        if (table.Load(image) != 0) return;
        for (uint32_t id : ids) Find(table, id);
    };
    for (std::size_t length = 0; length <= original.size(); length += 7) {
        exercise(Bytes(original.begin(), original.begin() + length));
    }
    for (std::size_t offset = 0; offset < original.size(); ++offset) {
        for (uint8_t value : {0x00, 0x7F, 0xFF}) {
            Bytes changed = original;
            changed[offset] = value;
            exercise(changed);
        }
    }
}

}  // namespace
