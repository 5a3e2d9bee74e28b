// Job 4, SAVE MEMORIES TO FILE, and job 10, its backup (the same up to the
// commit, which ends it: the writer keeps its memories).
//
// The lifecycle of the file, in the order the phases run:
//   click     f.save.begin: a new hidden file beside the chosen one (the
//             chosen file is not touched), made before the port opens
//   phase 14  the records go into it
//   phase 11  the new file is read back and every page verified against the
//             writer
//   phase 13  f.save.commit: the verified file replaces the chosen file; only
//             then are the writer's memories blocks erased. A failed
//             replacement ends the job before any erase, with the verified
//             copy kept beside the chosen file
//   any end before the commit (a failed exchange, the watchdog, a lost
//   port, the window closing): settle_save / Form_Unload remove the new file;
//   the chosen file and the writer are as they were
#include <cstdio>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "platform/disk_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/seq_files.hpp"
#include "engine/writer_id.hpp"

namespace torvela {

namespace {

// The new file of the save, whole, from its start; empty when it cannot be
// read (then no copy is kept, and the end note says so).
std::string read_new_file(main_form& f) {
    std::FILE* in = f.save.open_new_file(false);
    if (!in) return {};
    std::string bytes;
    char buffer[8192];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
    const bool whole = !std::ferror(in);
    std::fclose(in);
    return whole ? bytes : std::string();
}

// Before the writer is erased, the unit is kept in the user's data folder
// too: a copy that no later save or slip of the operator's can replace. A
// copy that cannot be made stops nothing: the chosen file holds the unit.
void keep_unit(main_form& f, const std::string& verified) {
    if (!f.history || !f.history->keep_units) return;
    std::string why = verified.empty() ? "the verified file could not be read back" : "";
    const std::string header = verified.substr(0, verified.find('\r'));
    if (why.empty()) {
        const job_history::kept_copy kept = f.history->keep_unit(verified, header, why);
        f.found.kept_unit = kept.path;
        f.found.kept_sha256 = kept.sha256;
    }
    if (f.found.kept_unit.empty())
        f.found.unkept = "no copy of the unit was kept in " + utf8_from_path(f.history->units_folder()) + " (" + why + ")";
}

}  // namespace

void end_job_no_memory(main_form& f, const char* message) {
    end_job(f, {outcome::file_problem, message, indicator::all, port_after::stays_open, file1::close});
}

bool open_memories_file(main_form& f, const std::string& path, std::uint8_t command) {
    return start_memories_pass(f, f.files.open_input(1, path), command);
}

bool start_memories_pass(main_form& f, bool opened, std::uint8_t command) {
    if (!opened) {
        abort_sequence(f, outcome::file_problem, "FILE OPEN ERROR", file1::close);
        return false;
    }
    f.address_frame[0] = command;
    // The header and CPU pages too; a written file is verified next.
    const bool writing = command == protocol::address_write;
    using kind = main_form::page_progress::kind;
    if (writing)
        start_progress(f, memories_pages + 2, kind::write, {{kind::verify, memories_pages + 2}});
    else
        start_progress(f, memories_pages + 2, kind::verify);
    next_memories_page(f);
    if (f.files.eof(1)) {
        end_job_no_memory(f);
        return false;
    }
    return true;
}

namespace {

// SAVE MEMORIES TO FILE and its backup share every step up to the commit.
void start_save(main_form& f, const char* question, std::uint8_t job) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no(question, "TORVELA")) return;
    // Whether units are kept is known before the unit leaves the writer.
    if (f.history && !f.history->kept_setting_problem.empty()) {
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        f.detail = "nothing was sent, the writer is as it was: " + f.history->kept_setting_problem;
        return;
    }
    // The chosen file may have changed since it was chosen, and the new
    // file is made now, beside it: what cannot be replaced, and a folder
    // that cannot take the new file, are refused before anything is sent.
    if (!f.save.begin(f.memory_file_path)) {
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        f.detail = "nothing was sent: " + f.memory_file_path + " cannot be saved, " + f.save.problem() +
                   "; choose a file in a folder you may write to";
        f.MSComm1.note("the save cannot begin: " + f.detail);
        return;
    }
    if (!open_port_with_busy_indicator(f)) {
        f.save.discard();
        return;
    }
    f.Check10.value = 0;
    f.block_filter_on = 1;
    begin_job(f, job);
}

// The commit of both: the verified file in the chosen file's place, its
// record and kept copy. False when the file could not be put there (the
// job has ended, the writer untouched).
bool commit_saved_file(main_form& f) {
    f.files.close(1);
    // The verified file as it is, for its record and the copy kept once it
    // is in place.
    const std::string verified = read_new_file(f);
    if (!f.save.commit(verified)) {
        f.detail = f.save.problem() + "; the writer still holds the memories" +
                   (f.save.kept_copy().empty() ? std::string() : ", and so does " + f.save.kept_copy());
        abort_sequence(f, outcome::file_problem, "FILE SAVE ERROR");
        // The writer still holds the memories; the file named here is a
        // verified copy of them, and may be the only one on the disk.
        if (!f.save.kept_copy().empty())
            f.msgbox.inform("FILE SAVE ERROR: THE VERIFIED MEMORIES ARE KEPT IN\n" + f.save.kept_copy() +
                                "\n(" + f.save.problem() + "; the writer still holds the memories)",
                            "TORVELA");
        return false;
    }
    if (!verified.empty()) {
        f.found.file_resolved = f.save.written();
        f.found.file_sha256 = sha256_hex(verified);
        f.found.unit_sha256 = unit_sha256(verified);
    }
    keep_unit(f, verified);
    return true;
}

// What the end of a save or backup adds to its success text.
void say_where_saved(main_form& f) {
    // The chosen name is a link: the operator is told which file holds the
    // memories.
    if (!f.found.unkept.empty()) f.detail = f.found.unkept + "; " + f.memory_file_path + " holds it";
    if (!f.save.written_elsewhere().empty())
        f.detail = "the memories are in " + f.save.written_elsewhere() + ", where the link " + f.memory_file_path +
                   " leads" + (f.detail.empty() ? "" : "; " + f.detail);
}

}  // namespace

void ramdata_get_Click(main_form& f) { start_save(f, "OK TO SAVE MEMORIES TO FILE?", 4); }

// A chosen memories file is never replaced by a backup, as SAVE MEMORIES
// TO FILE is not offered for one.
void backup_memories_Click(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.ramdata_get.visible) {
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        f.detail = "nothing was sent: " + f.memory_file_path +
                   " holds saved memories, which a backup would replace; choose a new file for the backup";
        return;
    }
    start_save(f, "OK TO BACKUP MEMORIES TO FILE?", 10);
}

void job4_phase99(main_form& f) {
    f.Label9.caption = "START TO SAVE MEMORIES TO FILE";
    start_writer_id_check(f);
}

void job4_phase12(main_form& f) { start_page_read(f, protocol::installer_page, installer_exchange); }

void job4_phase16(main_form& f) { start_page_read(f, protocol::version_page, version_read_exchange); }

void job4_phase14(main_form& f) {
    if (!f.save.active() || !f.files.adopt(1, f.save.open_new_file(true), true)) {
        abort_sequence(f, outcome::file_problem, "FILE OPEN ERROR", file1::close);
        return;
    }
    write_memories_header(f);
    start_page_read(f, protocol::cpu_page, cpu_read_exchange);
}

void job4_phase15(main_form& f) {
    f.files.print_line(1, f.Label2.caption);
    using kind = main_form::page_progress::kind;
    start_progress(f, memories_pages, kind::read, {{kind::verify, memories_pages + 2}});
    start_page_read(f, protocol::memories_first, memories_read_exchange);
}

void job4_phase11(main_form& f) {
    if (!start_memories_pass(f, f.files.adopt(1, f.save.open_new_file(false), false), protocol::address_read)) return;
    start_exchange(f, memories_verify_exchange);
}

// The memories are in the chosen file before the writer loses them.
void job4_phase13(main_form& f) {
    if (commit_saved_file(f)) start_job_erase(f, memories_blocks);
}

void job4_phase3(main_form& f) {
    say_where_saved(f);
    end_job(f, {outcome::success, "SAVE MEMORIES TO FILE COMPLETE", indicator::all, port_after::closed});
}

// Job 10, the backup: the save's phases up to the commit, and no erase.
void job10_phase99(main_form& f) {
    f.Label9.caption = "START TO BACKUP MEMORIES TO FILE";
    start_writer_id_check(f);
}

void job10_phase13(main_form& f) {
    if (!commit_saved_file(f)) return;
    say_where_saved(f);
    end_job(f, {outcome::success, "BACKUP MEMORIES TO FILE COMPLETE", indicator::all, port_after::closed});
}

}  // namespace torvela
