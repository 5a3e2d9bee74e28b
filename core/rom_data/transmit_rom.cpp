#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/block_form.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "platform/seq_files.hpp"
#include "engine/writer_id.hpp"

namespace torvela {

namespace {

// The pages of the image pass (pass_flag 1, the chosen blocks).
int image_pass_pages(main_form& f) {
    const std::uint8_t pass = f.pass_flag;
    f.pass_flag = 1;
    const int pages = count_image_pages(f, f.image_file_path);
    f.pass_flag = pass;
    return pages;
}

using pass_kind = main_form::page_progress::kind;

// Opens the work file of the pass at its first page for `command`; false
// when the job has ended.
bool open_pass(main_form& f, bool image_only, page_command command, pass_kind what) {
    const bool control_pass = !image_only && f.pass_flag != 1;
    f.changes.control_pass = control_pass;
    const std::string& path = control_pass ? f.control_file_path : f.image_file_path;
    if (!f.files.open_input(1, path)) {
        abort_sequence(f, outcome::file_problem, "FILE OPEN ERROR", file1::close);
        return false;
    }
    f.address_frame[0] = static_cast<std::uint8_t>(command);
    // In a job every write pass is verified, and the control file's passes
    // come before the image's.
    const int pages = count_image_pages(f, path);
    std::vector<main_form::page_progress::pass_plan> later;
    if (what == pass_kind::write && f.job_no != 0) later.push_back({pass_kind::verify, pages});
    if (control_pass) {
        const int image = image_pass_pages(f);
        later.push_back({pass_kind::write, image});
        later.push_back({pass_kind::verify, image});
    }
    // The target direct write starts its target write on the tick after
    // its last pass (the time left runs to there: the target write takes as
    // long as the writer takes); the writer version up makes the lock bits
    // effective and sets them, two phases more than the others.
    start_progress(f, pages, what, std::move(later), f.job_no == 5 ? 0 : f.job_no == 1 ? 3 : 1);
    next_image_page(f);
    return true;
}

// Phase 99 of the image jobs: the conversion, then the writer-ID check.
void convert_then_check(main_form& f, const char* status) {
    f.Label9.caption = status;
    if (!convert_or_report(f)) {
        abort_sequence(f, outcome::file_problem, nullptr, file1::close);
        return;
    }
    // Blocks chosen with no page of the image in them: refused before the
    // writer is touched, not found out after its blocks were erased.
    if (image_pass_pages(f) == 0) {
        abort_sequence(f, outcome::file_problem, no_page_error, file1::close);
        return;
    }
    start_writer_id_check(f);
}

// Phase 12 of jobs 2, 3 and 5: the control work file, then the erase of the
// image blocks.
void control_file_then_erase(main_form& f, const check_ticks& blocks) {
    if (!build_control_file(f)) {
        abort_sequence(f, outcome::file_problem, "FILE OPEN ERROR", file1::close);
        return;
    }
    start_job_erase(f, blocks);
}

}  // namespace

void start_write_pass(main_form& f, bool image_only, const char* first_status, page_command command) {
    if (!open_pass(f, image_only, command, pass_kind::write)) return;
    // A pass with nothing to send is no success.
    if (f.files.eof(1)) {
        abort_sequence(f, outcome::file_problem, no_page_error, file1::close);
        return;
    }
    f.Label9.caption = first_status;
    start_exchange(f, page_write_exchange);
}

void start_verify_pass(main_form& f, bool image_only, page_command command) {
    if (!open_pass(f, image_only, command, pass_kind::verify)) return;
    if (f.files.eof(1)) {
        abort_sequence(f, outcome::file_problem, no_page_error, file1::close);
        return;
    }
    start_exchange(f, verify_exchange);
}

// ---- TRANSMIT ROM DATA, job 2; writer block write, job 3 ------------------------

void flashall_write_Click(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("OK TO TRANSMIT ROM DATA?", "ROM WRITER")) return;
    if (!open_port_with_busy_indicator(f)) return;
    f.Check10.value = 0;
    f.block_filter_on = 1;
    f.block_write_mode = 0;
    for (int i = 0; i <= 8; ++i) f.fblock(i).caption = "1";
    begin_job(f, 2);
}

void flashblock_write_Click(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("BLOCK WRITE?", "BLOCK WRITE CHECK")) return;
    if (!open_port_prologue(f)) return;
    block_form dlg;
    Form_Activate(dlg, f);
    f.dialog.show_block_form(f, dlg);
    f.Check10.value = 0;
    f.block_write_mode = 1;
    f.block_filter_on = 1;
    begin_job(f, 3);
}

void job2_phase99(main_form& f) { convert_then_check(f, "START TO TRANSMIT ROM DATA"); }
void job3_phase99(main_form& f) { convert_then_check(f, "ROM WRITER BLOCK WRITE START"); }
void job2_phase12(main_form& f) { control_file_then_erase(f, image_blocks); }
void job3_phase12(main_form& f) { control_file_then_erase(f, image_blocks_untick_first_two); }

void image_job_phase3(main_form& f) { start_write_pass(f, false, "TRANSMIT NOW!"); }
void image_job_phase1(main_form& f) { start_verify_pass(f, false); }

void image_job_phase9(main_form& f) {
    if (f.pass_flag == 1) {
        f.job_phase = 8;
        return;
    }
    f.pass_flag = 1;
    start_write_pass(f, true, "Writing");
}

void job2_phase8(main_form& f) {
    end_job(f, {outcome::success, "ROM DATA TRANSMIT COMPLETE", indicator::spinner, port_after::closed});
}

void job3_phase8(main_form& f) {
    end_job(f, {outcome::success, "ROM WRITER BLOCK WRITE COMPLETE", indicator::untouched, port_after::stays_open});
}

// ---- the plain write --------------------------------------------------------

void write_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0) return;
    // Nothing to write without a file; a running job owns file 1.
    if (f.memory_file_path.empty() || f.job_no != 0) return;
    if (!f.msgbox.yes_no("OK TO TRANSMIT ROM DATA?", "ROM WRITER")) return;
    if (!convert_or_report(f)) return;
    f.pass_flag = 1;
    f.block_write_mode = 0;
    for (int i = 1; i <= 8; ++i) f.fblock(i).caption = "1";
    start_write_pass(f, true, "TRANSMIT NOW!");
}

// ---- target direct write, job 5 -----------------------------------------------

void unit_3mode_Click(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("TARGET DIRECT WRITE?", "TARGET DIRECT WRITE CHECK")) return;
    if (!open_port_prologue(f)) return;
    f.block_write_mode = 0;
    for (int i = 0; i <= 8; ++i) f.fblock(i).caption = "1";
    f.Check10.value = 0;
    f.block_filter_on = 1;
    begin_job(f, 5);
}

void job5_phase99(main_form& f) { convert_then_check(f, "TARGET DIRECT WRITE START"); }
void job5_phase12(main_form& f) { control_file_then_erase(f, image_blocks_untick_first_two); }

void job5_phase9(main_form& f) {
    if (f.pass_flag == 1) {
        f.Label9.caption = "TARGET WRITE NOW!";
        start_exchange(f, target_write_exchange);
        return;
    }
    f.pass_flag = 1;
    start_write_pass(f, true, "TRANSMIT NOW!");
}

void job5_phase10(main_form& f) { f.job_phase = 8; }

void job5_phase8(main_form& f) {
    end_job(f, {outcome::success, "TARGET DIRECT WRITE COMPLETE", indicator::untouched, port_after::closed});
}

}  // namespace torvela
