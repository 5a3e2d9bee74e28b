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
