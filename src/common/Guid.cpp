#include "common/Guid.h"

#include "common/Format.h"
#include "common/Text.h"

namespace kx {
namespace {

constexpr std::size_t kBracedLength = 38;
// Where the hexadecimal pairs of each byte stand in the braced text, in the
// order of the bytes in memory (the first three groups are little-endian).
constexpr std::size_t kBytePositions[16] = {7,  5,  3,  1,  12, 10, 17, 15,
                                            20, 22, 25, 27, 29, 31, 33, 35};

}  // namespace

std::wstring FormatGuid(const Guid& g) {
    return Format(L"{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
}

bool ParseGuid(std::wstring_view text, Guid& guid) {
    guid.fill(0);
    if (text.size() != kBracedLength || text.front() != L'{' || text.back() != L'}') return false;
    for (std::size_t dash : {9u, 14u, 19u, 24u}) {
        if (text[dash] != L'-') return false;
    }
    Guid parsed{};
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const int high = DigitValue(text[kBytePositions[i]], 16);
        const int low = DigitValue(text[kBytePositions[i] + 1], 16);
        if (high < 0 || low < 0) return false;
        parsed[i] = static_cast<uint8_t>(high * 16 + low);
    }
    guid = parsed;
    return true;
}

}  // namespace kx
