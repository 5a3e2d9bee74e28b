#include "service/lock_bits.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

namespace {

// A one-step button acts only on an idle tool: between two phases of a job
// it would overwrite the job's phase.
bool may_start(const main_form& f) { return f.MSComm1.PortOpen() && f.engine_step == 0 && f.job_no == 0; }

void per_block(main_form& f, const char* prompt, const char* title, std::uint8_t step) {
    if (!may_start(f)) return;
    f.block_select.fill(0);
    f.m16c_block_select.fill(0);
    if (!f.msgbox.yes_no(prompt, title)) return;
    // With the M16C map only m16c_block_select is filled, which the block
    // sender does not read: nothing is sent and no result is shown.
    read_block_checks(f);
    f.engine_step = step;
}

bool four_bytes(main_form& f) { return reply_read(f, lock_answer_len); }
bool done(const main_form& f) { return f.rx_bytes[2] == protocol::done && f.rx_bytes[3] == protocol::done; }

// The last step of enable and disable.
void device_verdict(main_form& f, const char* ok, const char* refused, std::uint8_t phase) {
    if (wait_ack(f, protocol::done, answer::verdict, file1::stays, refused) != wait_result::accepted) return;
    f.engine_step = 0;
    report(f, outcome::success, ok);
    f.job_phase = phase;
}

}  // namespace

void rockbit_read_Click(main_form& f) { per_block(f, "ROCK BIT READ?", "ROCK BIT READ CHECK", 7); }
void rockbit_set_Click(main_form& f) { per_block(f, "ROCK BIT SET?", "ROCK BIT SET CHECK", 6); }

void rockbit_on_Click(main_form& f) {
    if (!may_start(f) || !f.msgbox.yes_no("ROCK BIT VALIDITY?", "ROCK BIT VALIDITY CHECK")) return;
    start_family(f, protocol::lock_enable, 8);
}

void rockbit_non_Click(main_form& f) {
    if (!may_start(f) || !f.msgbox.yes_no("ROCK BIT INVALIDITY?", "ROCK BIT INVALIDITY CHECK")) return;
    start_family(f, protocol::lock_disable, 9);
}

// ---- set, one block per pass -------------------------------------------------
void step_6(main_form& f) {
    f.tx_frame = {protocol::lock_set, protocol::lock_set};
    send_block_command(f);
}

void step_61(main_form& f) {
    if (wait_ack(f, protocol::lock_set, answer::echo) != wait_result::accepted) return;
    send_block_frame(f, 62);
}

void step_62(main_form& f) {
    if (!four_bytes(f)) return;
    if (!done(f)) {
        abort_sequence(f, outcome::writer_refused, "ROCK BIT ERROR");
        return;
    }
    f.engine_step = 6;
    report(f, outcome::success, "ROCK BIT SET OK");
    f.job_phase = 5;
}

// ---- read, one block per pass ------------------------------------------------
void step_7(main_form& f) {
    f.tx_frame = {protocol::lock_read, protocol::lock_read};
    send_block_command(f);
}

void step_71(main_form& f) {
    if (wait_ack(f, protocol::lock_read, answer::echo) != wait_result::accepted) return;
    send_block_frame(f, 72);
}

// Bit 6 of both status bytes: set = not locked, clear = locked.
void step_72(main_form& f) {
    if (!four_bytes(f)) return;
    const int a = f.rx_bytes[0] & protocol::lock_free_bit, b = f.rx_bytes[1] & protocol::lock_free_bit;
    if (!done(f) || a != b) {
        abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR");
        return;
    }
    report(f, outcome::success, a != 0 ? "ROCK NONBLOCK" : "ROCK EXISTBLOCK");
    f.engine_step = 7;
}

// ---- enable and disable --------------------------------------------------------
void step_8(main_form& f) {
    if (wait_ack(f, protocol::lock_enable, answer::echo) != wait_result::accepted) return;
    f.engine_step = 81;
    send_command(f, protocol::go_ahead);
}

void step_81(main_form& f) { device_verdict(f, "ROCK BIT VALIDITY OK", "ROCK BIT VALIDITY ERROR", 6); }

void step_9(main_form& f) {
    if (wait_ack(f, protocol::lock_disable, answer::echo) != wait_result::accepted) return;
    f.engine_step = 91;
    send_command(f, protocol::go_ahead);
}

void step_91(main_form& f) {
    device_verdict(f, "ROCK BIT INVALIDITY OK", "ROCK BIT INVALIDITY ERROR", 7);
}

}  // namespace torvela
