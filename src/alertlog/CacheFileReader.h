#pragma once
// Reads a cache file front to back through a small buffer. It knows how much
// of the file is left, so a stored length beyond that ends the file like a
// cut-short read and is never allocated.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ExclusiveFile.h"

class CCacheFileReader {
public:
    // file: open, positioned at its start; size: its length in bytes.
    CCacheFileReader(kx::platform::CExclusiveFile& file, uint64_t size);

    // Each answers false once the file has ended (or failed) before the
    // value was whole; from then on every read fails.
    bool ReadUInt32(uint32_t* value);
    bool ReadInt64(int64_t* value);
    // The text up to its first zero character.
    bool ReadString(std::wstring* text);

    bool Ended() const { return ended_; }
    uint64_t Remaining() const { return remaining_; }

private:
    bool ReadBytes(void* bytes, std::size_t count);
    bool Refill();

    kx::platform::CExclusiveFile& file_;
    uint64_t remaining_;
    std::vector<unsigned char> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    bool ended_ = false;
};
