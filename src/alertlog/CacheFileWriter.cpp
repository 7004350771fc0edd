#include "alertlog/CacheFileWriter.h"

#include "common/Text.h"

void CCacheFileWriter::WriteUInt32(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_ += static_cast<char>(value >> shift);
}

void CCacheFileWriter::WriteInt64(int64_t value) {
    const auto bits = static_cast<uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8) bytes_ += static_cast<char>(bits >> shift);
}

void CCacheFileWriter::WriteString(std::wstring_view text) {
    const std::string utf16 = kx::WideToUtf16LE(text);
    WriteUInt32(static_cast<uint32_t>(utf16.size() + 2));
    bytes_ += utf16;
    bytes_.append(2, '\0');
}

void CCacheFileWriter::PatchUInt32(std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<char>(value >> (8 * i));
}
