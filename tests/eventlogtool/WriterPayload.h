#pragma once
// The data of the writer process's record i: a length and bytes that both
// depend on i.

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> WriterPayload(uint32_t i) {
    std::vector<uint8_t> data(64 + i % 700);
    for (std::size_t j = 0; j < data.size(); ++j) data[j] = static_cast<uint8_t>(i * 31 + j * 7);
    return data;
}
