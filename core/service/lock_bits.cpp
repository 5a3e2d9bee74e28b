#include "service/lock_bits.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

namespace {

// The rows of the lock exchanges: per block the next block, the echo and
// the answer; the enable and disable echo and verdict.
enum lock_row : std::uint8_t {
    set_next = 6, set_echo = 61, set_answer = 62,
    read_next = 7, read_echo = 71, read_answer = 72,
    enable_echo = 8, enable_verdict = 81, disable_echo = 9, disable_verdict = 91,
};

// A one-step button acts only on an idle tool: between two phases of a job
// it would overwrite the job's phase.
bool may_start(const main_form& f) { return f.MSComm1.PortOpen() && f.engine_step == 0 && f.job_no == 0; }

void per_block(main_form& f, const char* prompt, const char* title, const exchange& x) {
    if (!may_start(f)) return;
    f.block_select.fill(0);
    f.lock_reads.clear();
    if (!f.msgbox.yes_no(prompt, title)) return;
    // With the M16C map no block is selected: nothing is sent and no result
    // is shown.
    read_block_checks(f);
    start_exchange(f, x);
}

// The lock answers: two status bytes, then `done` twice.
bool done(const main_form& f) { return f.rx_bytes[2] == protocol::done && f.rx_bytes[3] == protocol::done; }

void next_set(main_form& f) {
    f.tx_frame = {protocol::lock_set, protocol::lock_set};
    send_block_command(f, set_echo);
}

void block_set(main_form& f) {
    if (!done(f)) {
        abort_sequence(f, outcome::writer_refused, "ROCK BIT ERROR");
        return;
    }
    f.engine_step = set_next;
    report(f, outcome::success, "ROCK BIT SET OK");
    f.job_phase = lock_set_exchange.completion;
}

void next_read(main_form& f) {
    f.tx_frame = {protocol::lock_read, protocol::lock_read};
    send_block_command(f, read_echo);
}

// Bit 6 of both status bytes: set = not locked, clear = locked.
void block_read(main_form& f) {
    const int a = f.rx_bytes[0] & protocol::lock_free_bit, b = f.rx_bytes[1] & protocol::lock_free_bit;
    if (!done(f) || a != b) {
        abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR");
        return;
    }
    report(f, outcome::success, a != 0 ? "ROCK NONBLOCK" : "ROCK EXISTBLOCK");
    // The status shows the last block's; each block read is named.
    const std::string block = block_of_code_named(f, f.block_frame[1]);
    f.lock_reads.push_back({block, a == 0});
    f.MSComm1.note(block + (a == 0 ? ": locked" : ": not locked"));
    f.engine_step = read_next;
}

// Set and read, block by block: the command, its echo, the block frame, the
// four-byte answer; then the next block.
constexpr exchange_step lock_set_steps[] = {
    {.step = set_next, .body = next_set},
    {.step = set_echo, .wait = awaits::echo, .code = protocol::lock_set, .then = sends::block_frame, .next = set_answer},
    {.step = set_answer, .wait = awaits::bytes, .count = lock_answer_len, .body = block_set},
};

constexpr exchange_step lock_read_steps[] = {
    {.step = read_next, .body = next_read},
    {.step = read_echo, .wait = awaits::echo, .code = protocol::lock_read, .then = sends::block_frame, .next = read_answer},
    {.step = read_answer, .wait = awaits::bytes, .count = lock_answer_len, .body = block_read},
};

// Enable and disable: the command, its echo, the go-ahead, the verdict.
constexpr exchange_step lock_enable_steps[] = {
    {.step = enable_echo, .wait = awaits::echo, .code = protocol::lock_enable, .then = sends::go_ahead, .next = enable_verdict},
    {.step = enable_verdict, .wait = awaits::verdict, .refusal = "ROCK BIT VALIDITY ERROR", .status = "ROCK BIT VALIDITY OK",
     .ends = true},
};

constexpr exchange_step lock_disable_steps[] = {
    {.step = disable_echo, .wait = awaits::echo, .code = protocol::lock_disable, .then = sends::go_ahead, .next = disable_verdict},
    {.step = disable_verdict, .wait = awaits::verdict, .refusal = "ROCK BIT INVALIDITY ERROR",
     .status = "ROCK BIT INVALIDITY OK", .ends = true},
};

}  // namespace

const exchange lock_set_exchange = {"lock bit set", no_command, lock_set_steps, 5};
const exchange lock_read_exchange = {"lock bit read", no_command, lock_read_steps, 0};
const exchange lock_enable_exchange = {"lock enable", protocol::lock_enable, lock_enable_steps, 6};
const exchange lock_disable_exchange = {"lock disable", protocol::lock_disable, lock_disable_steps, 7};

void rockbit_read_Click(main_form& f) { per_block(f, "ROCK BIT READ?", "ROCK BIT READ CHECK", lock_read_exchange); }
void rockbit_set_Click(main_form& f) { per_block(f, "ROCK BIT SET?", "ROCK BIT SET CHECK", lock_set_exchange); }

void rockbit_on_Click(main_form& f) {
    if (!may_start(f) || !f.msgbox.yes_no("ROCK BIT VALIDITY?", "ROCK BIT VALIDITY CHECK")) return;
    start_exchange(f, lock_enable_exchange);
}

void rockbit_non_Click(main_form& f) {
    if (!may_start(f) || !f.msgbox.yes_no("ROCK BIT INVALIDITY?", "ROCK BIT INVALIDITY CHECK")) return;
    start_exchange(f, lock_disable_exchange);
}

}  // namespace torvela
