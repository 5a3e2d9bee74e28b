#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

// Compares the expected page with the reply; every difference counts.
bool compare(main_form& f, const page_bytes& expected) {
    bool same = true;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] == f.rx_bytes[i]) continue;
        same = false;
        report(f, outcome::writer_refused, "VERIFY ERROR");
        control* const labels[] = {&f.Label4,  &f.Label5,  &f.Label6,  &f.Label7,  &f.Label17,
                                   &f.Label18, &f.Label19, &f.Label20, &f.Label21, &f.Label22};
        for (std::size_t k = 0; k < 10; ++k) labels[k]->caption = std::to_string(f.rx_bytes[k]);
        f.engine_step = 0;
    }
    return same;
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

void verified(main_form& f, std::uint8_t phase) { end_pass(f, "VERIFY OK", phase); }

bool convert_only(main_form& f) {
    switch (convert_rom_data_file(f)) {
    case conversion::ok:
        return true;
    case conversion::no_file:
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
    start_progress(f, count_image_pages(f, f.image_file_path));
    next_image_page(f);
    f.verify_retries = 0;
    if (f.files.eof(1)) {
        abort_sequence(f, outcome::file_problem, no_page_error, file1::close);
        return;
    }
    start_family(f, protocol::page_read, 1);
}

void verify_page(main_form& f) {
    const page_bytes expected = read_page_block(f);
    if (!compare(f, expected)) {
        mismatch(f);
        return;
    }
    page_done(f);
    if (f.files.eof(1))
        verified(f, 9);
    else
        f.engine_step = 12;
}

void verify_memories_page(main_form& f) {
    const page_bytes expected = memories_page_block(f);
    if (!compare(f, expected)) {
        mismatch(f);
        return;
    }
    page_done(f);
    if (f.files.eof(1))
        verified(f, 13);
    else
        f.engine_step = 143;
}

// ---- work files ------------------------------------------------------------
void step_1(main_form& f) {
    if (!reply_read(f, ack_len)) return;
    if (!ack(f, protocol::page_read)) {
        abort_sequence(f, outcome::communication_lost, "COMMIMUCATION ERROR", file1::close);
        return;
    }
    f.engine_step = 10;
    f.Label9.caption = "VERIFY NOW!";
    send_address_frame(f);
}

void step_10(main_form& f) {
    if (wait_ack(f, protocol::done, answer::verdict, file1::close) != wait_result::accepted) return;
    f.Label9.caption = "VERIFY NOW!";
    send_address_frame(f);
    f.engine_step = 11;
}

void step_11(main_form& f) {
    if (!reply_read(f, page_len)) return;
    verify_page(f);
}

void step_12(main_form& f) {
    next_image_page(f);
    if (f.files.eof(1)) {
        verified(f, 9);
        return;
    }
    start_family(f, protocol::page_read, 1);
}

// ---- memories files --------------------------------------------------------
void step_141(main_form& f) {
    if (wait_ack(f, protocol::page_read, answer::echo, file1::close) != wait_result::accepted) return;
    f.engine_step = 144;
    f.Label9.caption = "VERIFY NOW!";
    send_address_frame(f);
}

void step_144(main_form& f) {
    if (wait_ack(f, protocol::done, answer::verdict, file1::close) != wait_result::accepted) return;
    f.engine_step = 142;
    f.Label9.caption = "VERIFY NOW!";
    send_address_frame(f);
}

void step_142(main_form& f) {
    if (!reply_read(f, page_len)) return;
    verify_memories_page(f);
}

void step_143(main_form& f) {
    next_memories_page(f);
    if (f.files.eof(1)) {
        verified(f, 13);
        return;
    }
    start_family(f, protocol::page_read, 141);
}

}  // namespace torvela
