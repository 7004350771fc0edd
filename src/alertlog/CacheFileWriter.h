#pragma once
// The bytes of one cache file, gathered in memory so that the file is written
// in one go: little-endian integers and length-prefixed UTF-16LE strings.

#include <cstdint>
#include <string>
#include <string_view>

class CCacheFileWriter {
public:
    void WriteUInt32(uint32_t value);
    void WriteInt64(int64_t value);
    // A 4-byte length in bytes that counts the terminating zero, then the
    // UTF-16LE text and two zero bytes.
    void WriteString(std::wstring_view text);
    // Overwrites the 4 bytes at offset (the item count, written last).
    void PatchUInt32(std::size_t offset, uint32_t value);

    const std::string& Bytes() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::string bytes_;
};
