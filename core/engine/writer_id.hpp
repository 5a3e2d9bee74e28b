// The writer-ID check: 0xF5 0xF5, the echo, the ID frame, the verdict.
#pragma once

#include <array>
#include <cstdint>

#include "console/main_form.hpp"

namespace torvela {

inline constexpr std::size_t id_frame_len = 11;

// DF FF 07, the seven code bytes, 00.
std::array<std::uint8_t, id_frame_len> build_id_frame();

// Sends 0xF5 0xF5 and sets the step that waits for the echo.
void start_writer_id_check(main_form& f);

void id_check_Click(main_form& f);

}  // namespace torvela
