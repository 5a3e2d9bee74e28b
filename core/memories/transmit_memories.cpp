// Job 6, TRANSMIT MEMORIES: the file checked whole, then the writer checks,
// erase of the memories blocks, every page of the file written, read back
// and compared, CPU type check.
#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "platform/disk_files.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/seq_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"
#include "engine/writer_id.hpp"

namespace torvela {

void ramdata_store_Click(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("OK TO TRANSMIT MEMORIES?", "TORVELA")) return;
    f.Image5.visible = true;
    if (!open_port_with_busy_indicator(f)) return;
    f.Check10.value = 0;
    f.block_filter_on = 1;
    f.block_write_mode = 0;
    begin_job(f, 6);
}

// Nothing goes to the writer before the whole file is known to be a
// complete memories file: a file cut short would otherwise leave the writer
// erased and half written.
memories_check check_chosen_memories_file(main_form& f, std::string& copy, const char* nothing) {
    std::string why, bytes;
    memories_check checked = check_memories_file(f.memory_file_path, copy, &why, &bytes);
    if (checked == memories_check::complete) {
        note_chosen_file(f, sha256_hex(bytes));
        f.found.unit_sha256 = unit_sha256(copy);
        // A kept copy is sent only as its save kept it.
        if (f.history) {
            if (const std::string damage = f.history->check_kept_file(f.memory_file_path, f.found.file_sha256);
                !damage.empty()) {
                why = "it is a kept copy of a unit, and " + damage;
                checked = memories_check::malformed;
            }
        }
    }
    if (checked != memories_check::complete)
        f.detail = std::string(nothing) + ": " + f.memory_file_path +
                   (why.empty() ? std::string(" cannot be read") : ", " + why) + "; choose the file a save wrote";
    return checked;
}

const char* memories_check_status(memories_check checked) {
    switch (checked) {
    case memories_check::complete: return nullptr;
    case memories_check::unreadable: return "FILE OPEN ERROR";
    case memories_check::short_of_pages: return "NO MEMORY ERROR";
    case memories_check::malformed: return "MEMORY FILE ERROR";
    }
    return nullptr;
}

void job6_phase99(main_form& f) {
    f.Label9.caption = "START TO TRANSMIT MEMORIES";
    std::string copy;
    const memories_check checked = check_chosen_memories_file(f, copy, "nothing was sent");
    // An unreadable file ends as the other open failures do, port closed; a
    // short or malformed one leaves it open, like NO MEMORY ERROR.
    if (checked == memories_check::unreadable) {
        abort_sequence(f, outcome::file_problem, memories_check_status(checked), file1::close);
        return;
    }
    if (checked != memories_check::complete) {
        end_job_no_memory(f, memories_check_status(checked));
        return;
    }
    if (!write_small_file(path_from_utf8(f.memories_copy_path), copy)) {
        abort_sequence(f, outcome::file_problem, "FILE OPEN ERROR", file1::close);
        return;
    }
    start_writer_id_check(f);
}

void job6_phase12(main_form& f) { start_page_read(f, protocol::installer_page, installer_exchange); }
void job6_phase16(main_form& f) { start_page_read(f, protocol::version_page, version_check_exchange); }
void job6_phase17(main_form& f) { start_page_read(f, protocol::cpu_page, memory_full_check_exchange); }

void job6_phase14(main_form& f) { start_job_erase(f, memories_blocks); }

void job6_phase3(main_form& f) {
    if (!open_memories_file(f, f.memories_copy_path, protocol::address_write)) return;
    f.Label9.caption = "TRANSMIT NOW!";
    start_exchange(f, memories_write_exchange);
}

void job6_phase1(main_form& f) {
    if (!open_memories_file(f, f.memories_copy_path, protocol::address_read)) return;
    start_exchange(f, memories_verify_exchange);
}

void job6_phase13(main_form& f) { start_exchange(f, cpu_check_exchange); }

void job6_phase15(main_form& f) {
    end_job(f, {outcome::success, "TRANSMIT MEMORIES COMPLETE", indicator::all, port_after::closed});
}

}  // namespace torvela
