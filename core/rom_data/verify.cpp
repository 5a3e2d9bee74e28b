#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "platform/seq_files.hpp"

#include <cstdio>

namespace torvela {

namespace {
// The rows of a page's verify: its echo, the address's verdict, the page,
// then the next page.
enum verify_row : std::uint8_t {
    verify_ack = 1, verify_address = 10, verify_page_row = 11, verify_next = 12,
    memories_verify_echo = 141, memories_verify_address = 144, memories_verify_page = 142, memories_verify_next = 143,
};
}  // namespace

namespace {

// Compares the expected page with the reply; every difference counts, and
// the detail names every differing byte of the page.
bool compare(main_form& f, const page_bytes& expected) {
    page_bytes got{};
    std::copy_n(f.rx_bytes.begin(), got.size(), got.begin());
    const page_difference d = compare_pages(expected, got);
    if (d.count == 0) return true;
    char where[32];
    std::snprintf(where, sizeof where, "page %02X%02X%02X", f.address_frame[1], f.address_frame[2], f.address_frame[3]);
    f.detail = std::string("read back from the writer on ") + port_named(f) + ", " + where + ": " + difference_text(d) +
               "; a second difference ends the job, and the writer keeps what it holds";
    report(f, outcome::writer_refused, "VERIFY ERROR");
    control* const labels[] = {&f.Label4,  &f.Label5,  &f.Label6,  &f.Label7,  &f.Label17,
                               &f.Label18, &f.Label19, &f.Label20, &f.Label21, &f.Label22};
    for (std::size_t k = 0; k < 10; ++k) labels[k]->caption = std::to_string(f.rx_bytes[k]);
    f.engine_step = 0;
    return false;
}

// A mismatch: the first in a job lets the phase run again from the first
// page; the second ends the job.
void mismatch(main_form& f) {
    f.files.close(1);
    ++f.verify_retries;
    f.engine_step = 0;
    if (f.verify_retries == 1) return;
    end_job(f, {outcome::writer_refused, "VERIFY ERROR", indicator::all, port_after::closed});
}

void verified(main_form& f, const exchange& x) { end_pass(f, "VERIFY OK", x); }

bool convert_only(main_form& f) {
    switch (convert_rom_data_file(f)) {
    case conversion::ok:
        return true;
    case conversion::no_file:
        f.detail = f.memory_file_path + " could not be read (it is gone, or no plain file), or the tool's work "
                   "file for it could not be made; nothing was sent";
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        return false;
    case conversion::bad_record:
    case conversion::no_data:
        report(f, outcome::file_problem, "ROM DATA FILE ERROR");
        return false;
    }
    return false;
}

}  // namespace

bool convert_or_report(main_form& f) {
    if (!convert_only(f)) return false;
    // Pages for the store are sent whole or not at all.
    if (f.block_filter_on == 1 && !image_fits_store(f)) {
        f.detail = f.memory_file_path + " holds pages outside the writer's store blocks; nothing was sent";
        report(f, outcome::file_problem, "ROM DATA FILE ERROR");
        return false;
    }
    return true;
}

void verify_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0) return;
    // Nothing to compare without a file; a running job owns file 1.
    if (f.memory_file_path.empty() || f.job_no != 0) return;
    if (!f.msgbox.yes_no("VERIFY START?", "VERIFY CHECK")) return;
    if (!convert_or_report(f)) return;
    f.block_write_mode = 0;
    for (int i = 0; i <= 8; ++i) f.fblock(i).caption = "1";
    if (!f.files.open_input(1, f.image_file_path)) {
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        return;
    }
    f.address_frame[0] = static_cast<std::uint8_t>(page_command::read);
    f.pass_flag = 1;
    start_progress(f, count_image_pages(f, f.image_file_path), main_form::page_progress::kind::verify);
    next_image_page(f);
    f.verify_retries = 0;
    if (f.files.eof(1)) {
        abort_sequence(f, outcome::file_problem, no_page_error, file1::close);
        return;
    }
    start_exchange(f, verify_exchange);
}

void verify_page(main_form& f) {
    const page_bytes expected = read_page_block(f);
    if (!compare(f, expected)) {
        mismatch(f);
        return;
    }
    page_done(f);
    if (f.files.eof(1))
        verified(f, verify_exchange);
    else
        f.engine_step = verify_next;
}

void verify_memories_page(main_form& f) {
    const page_bytes expected = memories_page_block(f);
    if (!compare(f, expected)) {
        mismatch(f);
        return;
    }
    page_done(f);
    if (f.files.eof(1))
        verified(f, memories_verify_exchange);
    else
        f.engine_step = memories_verify_next;
}

namespace {

// The verify family's own text for a wrong echo.
void ask_page(main_form& f) {
    if (!ack(f, protocol::page_read)) {
        abort_sequence(f, outcome::communication_lost, "COMMIMUCATION ERROR", file1::close);
        return;
    }
    f.engine_step = verify_address;
    f.Label9.caption = "VERIFY NOW!";
    send_address_frame(f);
}

void next_page(main_form& f) {
    next_image_page(f);
    if (f.files.eof(1)) {
        verified(f, verify_exchange);
        return;
    }
    start_exchange(f, verify_exchange);
}

void next_memories_page_to_verify(main_form& f) {
    next_memories_page(f);
    if (f.files.eof(1)) {
        verified(f, memories_verify_exchange);
        return;
    }
    start_exchange(f, memories_verify_exchange);
}

// Per page: FF FF, the echo, the address frame, D0 D0, the address frame
// again, the page; compared, then the next page.
constexpr exchange_step verify_steps[] = {
    {.step = verify_ack, .wait = awaits::bytes, .count = ack_len, .body = ask_page},
    {.step = verify_address, .wait = awaits::verdict, .file = file1::close, .status = "VERIFY NOW!",
     .then = sends::address_frame, .next = verify_page_row},
    {.step = verify_page_row, .wait = awaits::bytes, .count = page_len, .body = verify_page},
    {.step = verify_next, .body = next_page},
};

constexpr exchange_step memories_verify_steps[] = {
    {.step = memories_verify_echo, .wait = awaits::echo, .code = protocol::page_read, .file = file1::close, .status = "VERIFY NOW!",
     .then = sends::address_frame, .next = memories_verify_address},
    {.step = memories_verify_address, .wait = awaits::verdict, .file = file1::close, .status = "VERIFY NOW!",
     .then = sends::address_frame, .next = memories_verify_page},
    {.step = memories_verify_page, .wait = awaits::bytes, .count = page_len, .body = verify_memories_page},
    {.step = memories_verify_next, .body = next_memories_page_to_verify},
};

}  // namespace

const exchange verify_exchange = {"verify one page of a work file", protocol::page_read, verify_steps, 9,
                                file_used::rom_data};
const exchange memories_verify_exchange = {"verify one page of a memories file", protocol::page_read,
                                           memories_verify_steps, 13};

}  // namespace torvela
