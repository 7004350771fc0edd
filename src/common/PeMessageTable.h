#pragma once
// The message table resource (RT_MESSAGETABLE, name 1) of a PE image, PE32 or
// PE32+, read from the image's bytes as the file holds them. A message file is
// input from outside: every offset, count and length is checked against the
// bytes it points into, and a damaged table loses the damaged messages, never
// more. Windows reads these tables itself; Linux reads message files with this.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kx {

inline constexpr uint32_t kErrorBadExeFormat = 193;
inline constexpr uint32_t kErrorMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND
inline constexpr uint32_t kErrorResourceDataNotFound = 1812;
inline constexpr uint32_t kErrorResourceTypeNotFound = 1813;
inline constexpr uint32_t kErrorResourceNameNotFound = 1814;

class CPeMessageTable {
public:
    // Reads the image's headers and its message table. Returns 193 when the
    // bytes are not a PE image; an image without a usable message table
    // loads, and its lookups fail with the reason.
    uint32_t Load(std::span<const uint8_t> image);

    // The text of a message as the table stores it (line ends included, up
    // to its NUL). Returns 0, 317 when the table has no such message, or the
    // reason the image has no table (1812 no resources, 1813 no message table,
    // 1814 no table named 1).
    uint32_t FindMessage(uint32_t id, std::wstring& text) const;

    // The language of the table chosen at load (0 when there is none). With
    // language 0 a table is chosen as FormatMessageW does on an English
    // system: neutral first, then US English, then any.
    uint16_t Language() const { return language_; }
    std::size_t MessageCount() const { return entries_.size(); }

private:
    struct Entry {
        uint32_t id;
        uint32_t offset;  // of the text in table_
        uint32_t length;  // of the text in bytes
        uint16_t flags;
    };

    void IndexMessages();
    std::wstring DecodeText(const Entry& entry) const;

    uint32_t tableError_ = kErrorResourceDataNotFound;
    uint16_t language_ = 0;
    std::vector<uint8_t> table_;
    std::vector<Entry> entries_;  // sorted by id, the first of duplicates kept
};

}  // namespace kx
