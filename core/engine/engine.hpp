// The command engine (Timer1, 4 ms: one step of an exchange per tick) and the
// job sequencer (Timer2, 500 ms: one job phase per tick while the engine is idle).
#pragma once

#include <cstdint>
#include <span>

#include "console/main_form.hpp"

namespace torvela {

void Timer1_Timer(main_form& f);
void Timer2_Timer(main_form& f);

// Whether the end of an exchange closes file 1 (the steps that read or
// write a file hold it open).
enum class file1 : bool { stays, close };
enum class port_after : bool { stays_open, closed };

// ---- the job lifecycle --------------------------------------------------------
// Every job begins here: its number, phase 99, no verify retried, no outcome.
void begin_job(main_form& f, std::uint8_t job_no);

struct job_end {
    outcome result;
    const char* text;  // the status line; null leaves the one shown
    indicator busy;
    port_after port;
    file1 file = file1::stays;
};
// Every job and exchange ends here: file 1 closed when asked, the engine
// idle, the status text and its outcome, job_no 0, the busy indicator reset,
// the port closed when asked, and a save that did not reach its commit
// removed.
void end_job(main_form& f, const job_end& how);

// A step or handler reports how its exchange went, without ending a job.
void report(main_form& f, outcome result, const char* text);

// The failed end: message in Label9, the whole busy indicator reset, port
// closed, watchdog reloaded. Failed replies, the watchdog, a port closed or
// lost under a job, an interrupt and an internal error all end here.
void abort_sequence(main_form& f, outcome why, const char* message, file1 file = file1::stays);

// Where a front end calls into the core: a click handler run so that an
// unexpected exception ends the operation through the abort (written to the
// trace, port closed, files closed) instead of the program. The timer
// handlers guard themselves.
void guarded(main_form& f, void (*handler)(main_form&));

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
