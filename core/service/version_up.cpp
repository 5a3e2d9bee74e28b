// Job 1, the writer version up: the file must carry the writer program ID;
// then writer-ID check, lock bits off, program written into the writer's own
// program memory and verified, lock bits on. The store is never touched: the
// pages go with command byte 0, which addresses the program memory (the
// writer's loader erases its own program pages as it takes them).
#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "engine/writer_id.hpp"

namespace torvela {

namespace {

// A character's nibble; -1 for 2A-2F, which have none.
int nibble(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c > 0x40) return c - 0x37;
    if (c >= 0x2A && c <= 0x2F) return -1;
    return 15;
}

}  // namespace

bool writer_program_id_matches(const main_form& f) {
    for (std::size_t i = 0; i < 32; ++i) {
        const std::uint8_t byte = protocol::writer_program_id[i / 2];
        const int want = (i % 2 == 0) ? byte >> 4 : byte & 15;
        if (nibble(f.id_code_text[i]) != want) return false;
    }
    return true;
}

std::string writer_program_id_problem(const main_form& f) {
    if (writer_program_id_matches(f)) return {};
    std::string want;
    for (const std::uint8_t b : protocol::writer_program_id) want += hex2(b);
    return f.memory_file_path + " is no writer program: the ID code its image carries reads " +
           std::string(f.id_code_text.begin(), f.id_code_text.begin() + 32) + ", a writer program's is " + want +
           "; nothing was sent to the writer";
}

void writer_versionup_Click(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ROM WRITER VERSION UP ?", "ROM WRITER VERSION UP CHECK")) return;
    if (!open_port_prologue(f)) return;
    f.block_filter_on = 0;
    f.Check10.value = 1;
    begin_job(f, 1);
}

void job1_phase99(main_form& f) {
    f.Label9.caption = "ROM WRITER VERSION UP START";
    if (!convert_or_report(f)) {
        abort_sequence(f, outcome::file_problem, nullptr, file1::close);
        return;
    }
    if (const std::string why = writer_program_id_problem(f); !why.empty()) {
        f.detail = why;
        abort_sequence(f, outcome::file_problem, "WRITER-ID ERROR");
        return;
    }
    start_writer_id_check(f);
}

// The writer-ID check reports 12; the job goes on with the lock-bit disable.
void job1_phase12(main_form& f) { job1_phase4(f); }

void job1_phase4(main_form& f) { start_exchange(f, lock_disable_exchange); }

// Check1 and Check2 name no store block: no erase is started, and without a
// completion the job would run this phase for ever. It goes on to the
// program pages; no erase is reported, as none happened.
void job1_phase7(main_form& f) {
    if (!start_job_erase(f, version_up_ticks)) f.job_phase = 3;
}

void job1_phase3(main_form& f) {
    f.pass_flag = 1;
    start_write_pass(f, true, "TRANSMIT NOW!", page_command::program);
}

void job1_phase1(main_form& f) { start_verify_pass(f, true, page_command::program); }

void job1_phase9(main_form& f) { start_exchange(f, lock_enable_exchange); }

// The lock set reads the same boxes as phase 7 and finds no store block
// either: no block is locked, and the job goes on to its end.
void job1_phase6(main_form& f) {
    f.block_select.fill(0);
    read_block_checks(f);
    if (block_to_send(f))
        start_exchange(f, lock_set_exchange);
    else
        f.job_phase = 5;
}

void job1_phase5(main_form& f) { f.job_phase = 8; }

void job1_phase8(main_form& f) {
    end_job(f, {outcome::success, "ROM WRITER VERSION UP COMPLETE", indicator::untouched, port_after::closed});
}

}  // namespace torvela
