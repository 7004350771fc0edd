#pragma once
// Turning fuzz bytes into the agent's wide text the ways its inputs arrive.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Text.h"

namespace kx::fuzz {

// How bytes become text: as UTF-8, as UTF-16LE, or one character per byte
// (as header bytes do), chosen by a selector the input gives.
inline std::wstring DecodeFuzzText(std::string_view bytes, uint8_t selector) {
    switch (selector % 3) {
        case 0:
            return kx::Utf8ToWide(bytes);
        case 1:
            return kx::Utf16LEToWide(bytes.data(), bytes.size());
        default: {
            std::wstring text;
            for (char c : bytes)
                text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
            return text;
        }
    }
}

// Stops the run when a reader breaks a promise that its interface makes.
#define KX_FUZZ_CHECK(condition)            \
    do {                                    \
        if (!(condition)) __builtin_trap(); \
    } while (0)

}  // namespace kx::fuzz
