// Codes that the tool and the ROM writer must agree on. Change them here for a
// writer that expects other values; the simulated writer reads the same header.
#pragma once

#include <array>
#include <cstdint>

namespace torvela {

// The writer ID code presented after 0xF5 0xF5 (seven bytes, first byte first).
inline constexpr std::array<std::uint8_t, 7> writer_id_code = {0x54, 0x4F, 0x52, 0x56,
                                                               0x45, 0x4C, 0x41};

}  // namespace torvela

namespace torvela {

// The ID a writer program file carries at 000084-000093 (as its ROM data
// conversion extracts it); the writer version up loads no other file.
inline constexpr std::array<std::uint8_t, 16> writer_program_id = {
    0x57, 0x52, 0x49, 0x54, 0x45, 0x52, 0x50, 0x52, 0x4F, 0x47, 0x52, 0x41, 0x4D, 0x30, 0x30, 0x31};

}  // namespace torvela
