#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {
// The rows of the page writes: the echo of 41 41, then the verdict on the
// page.
enum write_row : std::uint8_t { page_ack = 2, page_verdict = 21, memories_page_ack = 181, memories_page_verdict = 182 };
}  // namespace

void end_pass(main_form& f, const char* status, const exchange& x) {
    f.files.close(1);
    f.engine_step = 0;
    report(f, outcome::success, status);
    f.job_phase = x.completion;
}

namespace {

void transmitted(main_form& f, const exchange& x) { end_pass(f, "TRANSMIT OK", x); }

void next_write_request(main_form& f, const exchange& x) {
    f.Label9.caption = "TRANSMIT NOW!";
    start_exchange(f, x);
}

// A wrong answer to the write request is dropped; the watchdog ends a
// writer that never gets ready.
void send_page(main_form& f) {
    if (!ack(f, protocol::page_write)) return;
    f.Label9.caption = "TRANSMIT NOW!";
    f.engine_step = page_verdict;
    send_address_frame(f);
    send_page_data(f);
}

void page_written(main_form& f) {
    page_done(f);
    f.engine_step = page_ack;
    if (f.files.eof(1)) {
        transmitted(f, page_write_exchange);
        return;
    }
    next_image_page(f);
    if (f.files.eof(1)) {
        transmitted(f, page_write_exchange);
        return;
    }
    next_write_request(f, page_write_exchange);
}

void send_memories_page(main_form& f) {
    if (!ack(f, protocol::page_write)) return;
    f.Label9.caption = "TRANSMIT NOW!";
    f.engine_step = memories_page_verdict;
    send_address_frame(f);
    send_memories_page_data(f);
}

void memories_page_written(main_form& f) {
    page_done(f);
    f.engine_step = memories_page_ack;
    if (f.files.eof(1)) {
        transmitted(f, memories_write_exchange);
        return;
    }
    next_memories_page(f);
    if (!f.files.eof(1) || f.pass_flag == 1) {
        next_write_request(f, memories_write_exchange);
        return;
    }
    abort_sequence(f, outcome::file_problem, "NO MEMORY ERROR", file1::close);
}

// Per page: 41 41, the echo, the address frame and the page, the verdict.
constexpr exchange_step page_write_steps[] = {
    {.step = page_ack, .wait = awaits::bytes, .count = ack_len, .body = send_page},
    {.step = page_verdict, .wait = awaits::verdict, .file = file1::close, .body = page_written},
};

constexpr exchange_step memories_write_steps[] = {
    {.step = memories_page_ack, .wait = awaits::bytes, .count = ack_len, .body = send_memories_page},
    {.step = memories_page_verdict, .wait = awaits::verdict, .file = file1::close, .body = memories_page_written},
};

}  // namespace

const exchange page_write_exchange = {"write one page of a work file", protocol::page_write, page_write_steps, 1,
                                    file_used::rom_data};
const exchange memories_write_exchange = {"write one page of a memories file", protocol::page_write,
                                          memories_write_steps, 1};

}  // namespace torvela
