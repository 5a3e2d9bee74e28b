// The writer's write counts: page 0400 holds two count words, page 0700 a
// count in unary form. Each page is read twice and the readings compared.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "console/main_form.hpp"

namespace torvela {

struct count_words {
    std::array<std::uint8_t, 4> shown;  // b0..b3 after the erased-word and clamp rules
    std::int32_t first, second;
};
count_words decode_count_words(std::span<const std::uint8_t> page);
std::int32_t decode_unary_count(std::span<const std::uint8_t> page);

void write_count_Click(main_form& f);
// Starts the four passes (the job form of the button).
void start_write_count_read(main_form& f);

}  // namespace torvela
