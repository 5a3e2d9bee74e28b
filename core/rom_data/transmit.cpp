#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

void transmitted(main_form& f) { end_pass(f, "TRANSMIT OK", 1); }

void next_write_request(main_form& f, std::uint8_t step) {
    send_command(f, protocol::page_write);
    f.Label9.caption = "TRANSMIT NOW!";
    f.engine_step = step;
}

// D0 D0: the page is stored. Any other verdict closes file 1 and aborts.
bool page_stored(main_form& f) {
    return wait_ack(f, protocol::done, answer::verdict, file1::close) == wait_result::accepted;
}

}  // namespace

void end_pass(main_form& f, const char* status, std::uint8_t phase) {
    f.files.close(1);
    f.engine_step = 0;
    report(f, outcome::success, status);
    f.job_phase = phase;
}

// ---- image and control work files -------------------------------------------
void step_2(main_form& f) {
    if (!reply_read(f, ack_len)) return;
    if (!ack(f, protocol::page_write)) return;  // dropped; the watchdog ends a writer that never gets ready
    f.Label9.caption = "TRANSMIT NOW!";
    f.engine_step = 21;
    send_address_frame(f);
    send_page_data(f);
}

void step_21(main_form& f) {
    if (!page_stored(f)) return;
    page_done(f);
    f.engine_step = 2;
    if (f.files.eof(1)) {
        transmitted(f);
        return;
    }
    next_image_page(f);
    if (f.files.eof(1)) {
        transmitted(f);
        return;
    }
    next_write_request(f, 2);
}

// ---- memories files ---------------------------------------------------------
void step_181(main_form& f) {
    if (!reply_read(f, ack_len)) return;
    if (!ack(f, protocol::page_write)) return;
    f.Label9.caption = "TRANSMIT NOW!";
    f.engine_step = 182;
    send_address_frame(f);
    send_memories_page_data(f);
}

void step_182(main_form& f) {
    if (!page_stored(f)) return;
    page_done(f);
    f.engine_step = 181;
    if (f.files.eof(1)) {
        transmitted(f);
        return;
    }
    next_memories_page(f);
    if (!f.files.eof(1) || f.pass_flag == 1) {
        next_write_request(f, 181);
        return;
    }
    abort_sequence(f, outcome::file_problem, "NO MEMORY ERROR", file1::close);
}

}  // namespace torvela
