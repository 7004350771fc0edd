#include "common/PeMessageTable.h"

#include <algorithm>
#include <optional>

#include "common/Text.h"

namespace kx {
namespace {

constexpr uint32_t kResourceTypeMessageTable = 11;
constexpr uint32_t kMessageTableName = 1;
constexpr uint32_t kSubdirectoryFlag = 0x80000000;
constexpr uint16_t kLanguageUsEnglish = 0x0409;
constexpr uint16_t kMessageUnicode = 0x0001;
constexpr uint16_t kMessageUtf8 = 0x0002;

// Little-endian reads that fail instead of reading past the bytes.
std::optional<uint16_t> Read16(std::span<const uint8_t> bytes, uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2) return std::nullopt;
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::optional<uint32_t> Read32(std::span<const uint8_t> bytes, uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4) return std::nullopt;
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

// The headers of a PE image that locate its resources.
struct ImageLayout {
    uint32_t resourceRva = 0;
    std::vector<Section> sections;
};

std::optional<ImageLayout> ReadLayout(std::span<const uint8_t> image) {
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return std::nullopt;
    auto ntOffset = Read32(image, 0x3C);
    if (!ntOffset || Read32(image, *ntOffset) != 0x00004550u) return std::nullopt;  // "PE\0\0"
    const uint64_t fileHeader = static_cast<uint64_t>(*ntOffset) + 4;
    auto sectionCount = Read16(image, fileHeader + 2);
    auto optionalSize = Read16(image, fileHeader + 16);
    const uint64_t optional = fileHeader + 20;
    auto magic = Read16(image, optional);
    if (!sectionCount || !optionalSize || !magic) return std::nullopt;
    uint64_t directoryCountOffset;
    if (*magic == 0x10B) {
        directoryCountOffset = 92;  // PE32
    } else if (*magic == 0x20B) {
        directoryCountOffset = 108;  // PE32+
    } else {
        return std::nullopt;
    }
    ImageLayout layout;
    const uint64_t sectionTable = optional + *optionalSize;
    for (uint64_t i = 0; i < *sectionCount; ++i) {
        const uint64_t header = sectionTable + i * 40;
        auto virtualSize = Read32(image, header + 8);
        auto virtualAddress = Read32(image, header + 12);
        auto rawSize = Read32(image, header + 16);
        auto rawOffset = Read32(image, header + 20);
        if (!virtualSize || !virtualAddress || !rawSize || !rawOffset) return std::nullopt;
        layout.sections.push_back({*virtualAddress, *virtualSize, *rawSize, *rawOffset});
    }
    // The resource directory is data directory 2, when the header has it.
    auto directoryCount = Read32(image, optional + directoryCountOffset);
    const uint64_t resourceEntry = optional + directoryCountOffset + 4 + 2 * 8;
    if (directoryCount && *directoryCount > 2 && resourceEntry + 8 <= sectionTable) {
        layout.resourceRva = Read32(image, resourceEntry).value_or(0);
    }
    return layout;
}

// The bytes of the file that hold the image's memory from rva on, up to the
// end of the section's data in the file.
std::span<const uint8_t> BytesAtRva(std::span<const uint8_t> image, const ImageLayout& layout,
                                    uint32_t rva) {
    for (const Section& section : layout.sections) {
        const uint64_t extent = std::max(section.virtualSize, section.rawSize);
        if (rva < section.virtualAddress || rva - section.virtualAddress >= extent) continue;
        const uint64_t delta = rva - section.virtualAddress;
        const uint64_t start = static_cast<uint64_t>(section.rawOffset) + delta;
        if (delta >= section.rawSize || start >= image.size()) return {};
        const uint64_t available =
            std::min<uint64_t>(section.rawSize - delta, image.size() - start);
        return image.subspan(start, available);
    }
    return {};
}

struct DirectoryEntry {
    uint32_t id;
    uint32_t target;  // offset from the start of the resource directory
};

// The entries of one resource directory that are named by number.
std::vector<DirectoryEntry> ReadDirectory(std::span<const uint8_t> resources, uint32_t offset) {
    std::vector<DirectoryEntry> entries;
    auto named = Read16(resources, static_cast<uint64_t>(offset) + 12);
    auto numbered = Read16(resources, static_cast<uint64_t>(offset) + 14);
    if (!named || !numbered) return entries;
    for (uint32_t i = 0; i < static_cast<uint32_t>(*named) + *numbered; ++i) {
        const uint64_t entry = static_cast<uint64_t>(offset) + 16 + i * 8;
        auto name = Read32(resources, entry);
        auto target = Read32(resources, entry + 4);
        if (!name || !target) break;
        if (!(*name & kSubdirectoryFlag)) entries.push_back({*name, *target});
    }
    return entries;
}

std::optional<uint32_t> FindSubdirectory(std::span<const uint8_t> resources, uint32_t offset,
                                         uint32_t id) {
    for (const DirectoryEntry& entry : ReadDirectory(resources, offset)) {
        if (entry.id == id) {
            if (!(entry.target & kSubdirectoryFlag)) return std::nullopt;
            return entry.target & ~kSubdirectoryFlag;
        }
    }
    return std::nullopt;
}

// Language 0 looks for a neutral table, then the user's language (US English
// here), then takes any.
const DirectoryEntry* ChooseLanguage(const std::vector<DirectoryEntry>& languages) {
    auto find = [&](auto predicate) -> const DirectoryEntry* {
        auto found = std::find_if(languages.begin(), languages.end(), predicate);
        return found == languages.end() ? nullptr : &*found;
    };
    if (auto* entry = find([](const DirectoryEntry& e) { return e.id == 0; })) return entry;
    // Other neutral sublanguages (system default, user default).
    if (auto* entry = find([](const DirectoryEntry& e) { return (e.id & 0x3FF) == 0; }))
        return entry;
    if (auto* entry = find([](const DirectoryEntry& e) { return e.id == kLanguageUsEnglish; })) {
        return entry;
    }
    return languages.empty() ? nullptr : &languages.front();
}

// ANSI texts of message files are in the Windows code page of their maker,
// Windows-1252 for the English and Western files.
std::wstring DecodeWindows1252(const uint8_t* bytes, std::size_t count) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::wstring text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        uint8_t b = bytes[i];
        text.push_back(b >= 0x80 && b < 0xA0 ? static_cast<wchar_t>(kHigh[b - 0x80])
                                             : static_cast<wchar_t>(b));
    }
    return text;
}

// Copies the bytes of the message table resource that language 0 chooses.
uint32_t ReadMessageTable(std::span<const uint8_t> image, const ImageLayout& layout,
                          std::vector<uint8_t>& table, uint16_t& language) {
    if (layout.resourceRva == 0) return kErrorResourceDataNotFound;
    std::span<const uint8_t> resources = BytesAtRva(image, layout, layout.resourceRva);
    if (resources.size() < 16) return kErrorResourceDataNotFound;
    auto types = FindSubdirectory(resources, 0, kResourceTypeMessageTable);
    if (!types) return kErrorResourceTypeNotFound;
    auto names = FindSubdirectory(resources, *types, kMessageTableName);
    if (!names) return kErrorResourceNameNotFound;
    const std::vector<DirectoryEntry> languages = ReadDirectory(resources, *names);
    const DirectoryEntry* chosen = ChooseLanguage(languages);
    if (!chosen || (chosen->target & kSubdirectoryFlag)) return kErrorResourceNameNotFound;
    auto dataRva = Read32(resources, chosen->target);
    auto dataSize = Read32(resources, static_cast<uint64_t>(chosen->target) + 4);
    if (!dataRva || !dataSize) return kErrorResourceDataNotFound;
    std::span<const uint8_t> data = BytesAtRva(image, layout, *dataRva);
    data = data.first(std::min<std::size_t>(data.size(), *dataSize));
    table.assign(data.begin(), data.end());
    language = static_cast<uint16_t>(chosen->id);
    return 0;
}

}  // namespace

uint32_t CPeMessageTable::Load(std::span<const uint8_t> image) {
    table_.clear();
    entries_.clear();
    language_ = 0;
    std::optional<ImageLayout> layout = ReadLayout(image);
    if (!layout) return kErrorBadExeFormat;
    tableError_ = ReadMessageTable(image, *layout, table_, language_);
    if (tableError_ == 0) IndexMessages();
    return 0;
}

void CPeMessageTable::IndexMessages() {
    const std::span<const uint8_t> table(table_);
    auto blockCount = Read32(table, 0);
    if (!blockCount) return;
    // Entries of a sound table do not overlap and take 4 bytes at least;
    // blocks that claim the same bytes again must not multiply the index.
    const std::size_t maxEntries = table.size() / 4;
    for (uint64_t block = 0; block < *blockCount; ++block) {
        auto low = Read32(table, 4 + block * 12);
        auto high = Read32(table, 8 + block * 12);
        auto offset = Read32(table, 12 + block * 12);
        if (!low || !high || !offset) break;
        uint64_t position = *offset;
        // Each entry takes at least 4 bytes, so a block whose range claims
        // more messages than its bytes can hold stops at the end of them.
        for (uint64_t id = *low; id <= *high && entries_.size() < maxEntries; ++id) {
            auto length = Read16(table, position);
            auto flags = Read16(table, position + 2);
            if (!length || !flags || *length < 4 || position + *length > table.size()) break;
            entries_.push_back({static_cast<uint32_t>(id), static_cast<uint32_t>(position + 4),
                                static_cast<uint32_t>(*length - 4u), *flags});
            position += *length;
        }
    }
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.id < b.id; });
    auto duplicates = std::unique(entries_.begin(), entries_.end(),
                                  [](const Entry& a, const Entry& b) { return a.id == b.id; });
    entries_.erase(duplicates, entries_.end());
}

uint32_t CPeMessageTable::FindMessage(uint32_t id, std::wstring& text) const {
    if (tableError_ != 0) return tableError_;
    auto found = std::lower_bound(entries_.begin(), entries_.end(), id,
                                  [](const Entry& entry, uint32_t key) { return entry.id < key; });
    if (found == entries_.end() || found->id != id) return kErrorMessageNotFound;
    text = DecodeText(*found);
    return 0;
}

std::wstring CPeMessageTable::DecodeText(const Entry& entry) const {
    const uint8_t* bytes = table_.data() + entry.offset;
    std::wstring text;
    if (entry.flags & kMessageUnicode) {
        text = Utf16LEToWide(bytes, entry.length);
    } else if (entry.flags == kMessageUtf8) {
        text = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(bytes), entry.length));
    } else {
        text = DecodeWindows1252(bytes, entry.length);
    }
    return text.substr(0, text.find(L'\0'));
}

}  // namespace kx
