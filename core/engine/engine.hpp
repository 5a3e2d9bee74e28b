// The command engine (Timer1, 4 ms: one step of an exchange per tick) and the
// job sequencer (Timer2, 500 ms: one job phase per tick while the engine is idle).
#pragma once

#include <string_view>

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

// The outcome as the trace names it.
const char* outcome_name(outcome o);
// Every outcome an operation can end with, as the history records them.
inline constexpr outcome every_outcome[] = {
    outcome::success,      outcome::writer_refused, outcome::writer_state, outcome::communication_lost,
    outcome::file_problem, outcome::no_port,        outcome::interrupted,  outcome::different,
    outcome::internal_error};
// The job as the job table names it ("save memories to file"); empty for none.
const char* job_name(std::uint8_t job_no);
// The operator's file an operation reads or writes: none, the memories file
// (file 1 of the memories jobs) or the ROM data (the work file).
enum class file_used : std::uint8_t { none, memories, rom_data };
// The file job `job_no` uses, as the job table says; none for no job.
file_used job_file(std::uint8_t job_no);
// After every call into the core (a press, a timer's tick, a window closed,
// an interrupt): an operation that has just ended, at once or after its
// exchanges, goes into the job history. Front ends that call handlers
// outside `guarded` call this after them.
void settle_operation(main_form& f);
// The record of the operation that ends now: job `job`, else the exchange
// `step` began, else what the front end named as pressed.
void record_operation(main_form& f, std::uint8_t job, std::uint8_t step);
// The chosen file as the job has just read it, for its record: where the
// system resolves its name, and the SHA-256 of the bytes read.
void note_chosen_file(main_form& f, const std::string& sha256);

// A step or handler reports how its exchange went, without ending a job.
void report(main_form& f, outcome result, const char* text);

// A job's first command goes on a quiet line: nothing may have come for
// 12 engine ticks (48 ms; a page of 256 bytes takes 44 ms at 57600 baud),
// or a writer still answering an interrupted job answers the new one. What
// comes meanwhile is discarded; after 1 s the job goes ahead all the same,
// and its first exchange finds out whether the writer listens.
inline constexpr std::uint16_t quiet_line_ticks = 12;
inline constexpr std::uint16_t quiet_line_bound_ticks = 250;
bool line_quiet(const main_form& f);
// The job's first phase, once the line is quiet (the engine calls it when
// the sequencer's tick came too early).
void run_job_phase(main_form& f);

// The failed end: message in Label9, the whole busy indicator reset, port
// closed, watchdog reloaded. Failed replies, the watchdog, a port closed or
// lost under a job, an interrupt and an internal error all end here.
void abort_sequence(main_form& f, outcome why, const char* message, file1 file = file1::stays);

// Where a front end calls into the core: a click handler run so that an
// unexpected exception ends the operation through the abort (written to the
// trace, port closed, files closed) instead of the program. The timer
// handlers guard themselves.
void guarded(main_form& f, handler entry);

// The writer was built for a watchdog of 751 periods of the desktop's
// 15.625 ms timer tick, 11.73 s. The engine steps every 4 ms, so a step may
// stand still for 2933 ticks: the count starts at 2932 and fires below 0.
inline constexpr std::int16_t watchdog_reload = 2932;
inline constexpr std::uint8_t unwatched_step = 112;  // target write may take as long as it takes

using step_body = void (*)(main_form&);

// ---- exchanges as data ---------------------------------------------------------
// An exchange is the conversation of one command with the writer: the
// command that opens it and, row by row in the order they run, the step
// labels engine_step holds, the answer each waits for and what follows it.

// What a row waits for before it acts.
enum class awaits : std::uint8_t {
    nothing,  // acts on the tick it is reached
    echo,     // the command `code` twice; anything else: "COMMUNICATION ERROR"
    verdict,  // `done` twice; the writer's refusal: `refusal`, else "COMMUNICATION ERROR"
    bytes,    // `count` bytes, judged by the row's body
};

// What a row sends once its answer is accepted (rows without a body).
enum class sends : std::uint8_t { nothing, go_ahead, address_frame, id_frame, block_frame };

struct exchange_step {
    std::uint8_t step;
    awaits wait = awaits::nothing;
    std::uint8_t code = 0;      // echo: the code echoed
    int count = 0;              // bytes: how many
    file1 file = file1::stays;  // a failed answer closes file 1
    const char* refusal = nullptr;  // verdict: the text of AC AC (null: the installer error)
    const char* status = nullptr;   // shown once the answer is accepted
    sends then = sends::nothing;
    std::uint8_t next = 0;  // the row that waits next; 0: the exchange is over
    // The last answer: `status` is its success, and the job goes on with the
    // exchange's completion phase.
    bool ends = false;
    // The row's own work once its answer is in, instead of the above.
    step_body body = nullptr;
};

// No command opens the exchange: its first row acts at once.
inline constexpr std::uint8_t no_command = 0;

struct exchange {
    const char* name;
    std::uint8_t command;  // sent twice to open it, or no_command
    std::span<const exchange_step> steps;
    // The job phase that follows the exchange's good end; 0 for none.
    std::uint8_t completion;
    // The file the exchange uses when it runs as an operation of its own.
    file_used file = file_used::none;
};

// Sends the exchange's command (if any) and waits at its first row.
void start_exchange(main_form& f, const exchange& x);
// A row's body ends its exchange well: engine idle, the job on with the
// completion phase of the exchange running now.
void exchange_done(main_form& f);

std::span<const exchange* const> exchanges();
// The exchange and row for a step value, or nulls for a value in none.
struct step_row {
    const exchange* of = nullptr;
    const exchange_step* row = nullptr;
};
step_row find_step(std::uint8_t step);

struct phase_entry {
    std::uint8_t phase;
    step_body action;
};

struct job_entry {
    std::uint8_t job_no;
    const char* name;
    file_used file;
    std::span<const phase_entry> phases;
};

}  // namespace torvela
