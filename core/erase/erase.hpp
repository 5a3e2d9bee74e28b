// Erase all flash (job 7) and the block erase with its block selection.
#pragma once

#include <array>
#include <cstdint>

#include "console/main_form.hpp"

namespace torvela {

void allunlock_erase_Click(main_form& f);

void block_erase_Click(main_form& f);
// The ticked check boxes into the selection of the chosen CPU family.
void read_block_checks(main_form& f);
// Check3..Check9 into block_select 2..8, whatever the family.
void read_erase_block_checks(main_form& f);

// What a job's erase phase does with each of Check1..Check9.
enum class tick : std::uint8_t { keep, on, off };
using check_ticks = std::array<tick, 9>;

// Check3 and Check4: store blocks 0 and 1, the memories area and the pages
// that describe it. Both memories jobs erase these.
inline constexpr check_ticks memories_blocks = {tick::keep, tick::keep, tick::on, tick::on, tick::off,
                                                tick::off,  tick::off,  tick::off, tick::off};
// Check3 and Check5..Check9: store block 0 (the control pages) and blocks 2
// to 6 (the image). TRANSMIT ROM DATA leaves Check1 and Check2 as they are;
// the writer block write and the target direct write untick them.
inline constexpr check_ticks image_blocks = {tick::keep, tick::keep, tick::on, tick::off, tick::on,
                                             tick::on,   tick::on,   tick::on, tick::on};
inline constexpr check_ticks image_blocks_untick_first_two = {tick::off, tick::off, tick::on,
                                                              tick::off, tick::on,  tick::on,
                                                              tick::on,  tick::on,  tick::on};
// Check1 and Check2 only: the boxes the writer version up ticks. The block
// sender reads Check3..Check9, so they name no store block.
inline constexpr check_ticks version_up_ticks = {tick::on,  tick::on,  tick::off, tick::off, tick::off,
                                                 tick::off, tick::off, tick::off, tick::off};

// The erase phase of a job: sets Check1..Check9 as `ticks` says, clears the
// selections and starts the block erase of the ticked Check3..Check9.
// False (and nothing started) when they name no block.
bool start_job_erase(main_form& f, const check_ticks& ticks);

}  // namespace torvela
