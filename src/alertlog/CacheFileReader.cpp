#include "alertlog/CacheFileReader.h"

#include <algorithm>
#include <cstring>

#include "common/Text.h"

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

}  // namespace

CCacheFileReader::CCacheFileReader(kx::platform::CExclusiveFile& file, uint64_t size)
    : file_(file), remaining_(size), buffer_(kBufferSize) {}

bool CCacheFileReader::ReadUInt32(uint32_t* value) {
    unsigned char bytes[4];
    if (!ReadBytes(bytes, sizeof bytes)) return false;
    *value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
             static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

bool CCacheFileReader::ReadInt64(int64_t* value) {
    unsigned char bytes[8];
    if (!ReadBytes(bytes, sizeof bytes)) return false;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | bytes[i];
    *value = static_cast<int64_t>(bits);
    return true;
}

bool CCacheFileReader::ReadString(std::wstring* text) {
    uint32_t length = 0;
    if (!ReadUInt32(&length)) return false;
    if (length > remaining_) {
        ended_ = true;
        return false;
    }
    std::string bytes(length, '\0');
    if (!ReadBytes(bytes.data(), length)) return false;
    *text = kx::Utf16LEToWide(bytes.data(), length);
    const std::size_t zero = text->find(L'\0');
    if (zero != std::wstring::npos) text->resize(zero);
    return true;
}

bool CCacheFileReader::ReadBytes(void* bytes, std::size_t count) {
    if (ended_ || count > remaining_) {
        ended_ = true;
        return false;
    }
    auto* out = static_cast<unsigned char*>(bytes);
    while (count > 0) {
        if (position_ == filled_ && !Refill()) {
            ended_ = true;
            return false;
        }
        const std::size_t take = std::min(count, filled_ - position_);
        std::memcpy(out, buffer_.data() + position_, take);
        position_ += take;
        out += take;
        count -= take;
        remaining_ -= take;
    }
    return true;
}

bool CCacheFileReader::Refill() {
    std::size_t read = 0;
    if (file_.Read(buffer_.data(), buffer_.size(), &read) != 0 || read == 0) return false;
    position_ = 0;
    filled_ = read;
    return true;
}
