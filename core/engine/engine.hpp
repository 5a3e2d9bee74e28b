// The command engine (Timer1, 4 ms: one step of an exchange per tick) and the
// job sequencer (Timer2, 500 ms: one job phase per tick while the engine is idle).
#pragma once

#include <cstdint>
#include <span>

#include "console/main_form.hpp"

namespace torvela {

void Timer1_Timer(main_form& f);
void Timer2_Timer(main_form& f);

// Ends the exchange and any job: message in Label9, job_no 0, busy indicator
// reset, port closed, watchdog reloaded. `close_file1` first closes file 1
// for steps that hold it. Every failure path ends here: failed replies, the
// watchdog, a port closed or lost under a job.
void abort_sequence(main_form& f, const char* message, bool close_file1 = false);

// The writer was built for a watchdog of 751 periods of the desktop's
// 15.625 ms timer tick, 11.73 s. The engine steps every 4 ms, so a step may
// stand still for 2933 ticks: the count starts at 2932 and fires below 0.
inline constexpr std::int16_t watchdog_reload = 2932;
inline constexpr std::uint8_t unwatched_step = 112;  // target write may take as long as it takes

using step_body = void (*)(main_form&);

struct step_entry {
    std::uint8_t step;
    step_body body;
};

struct step_family {
    const char* name;
    std::span<const step_entry> steps;
    std::uint8_t completion;  // job_phase written on success, 0 for none
};

struct phase_entry {
    std::uint8_t phase;
    step_body action;
};

struct job_entry {
    std::uint8_t job_no;
    const char* name;
    std::span<const phase_entry> phases;
};

std::span<const step_family> step_families();
// The body for a step value, or null for a value in no family.
step_body find_step(std::uint8_t step);

}  // namespace torvela
