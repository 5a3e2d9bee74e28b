#include "window/script_setup.hpp"

#include <filesystem>

#include "console/cpu_family.hpp"
#include "engine/engine.hpp"
#include "erase/block_form.hpp"
#include "link/link.hpp"
#include "platform/disk_files.hpp"
#include "platform/pending_save.hpp"
#include "platform/seq_files.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"

namespace torvela {

void set_up_form(main_form& f, const script_choices& c) {
    if (c.com) {
        f.Combo2.caption = "COM" + std::to_string(*c.com);
        Combo2_Click(f);
    }
    if (c.family != cpu_choice::none) {
        const bool m32r = c.family == cpu_choice::m32r;
        (m32r ? f.Option1 : f.Option2).value = 1;
        (m32r ? Option1_Click : Option2_Click)(f);
    }
    if (c.blocks) {
        for (int n = 1; n <= 9; ++n) f.check(n).value = 0;
        for (const int label : *c.blocks)
            if (const int n = check_box_of({&family_of(c.family), label})) f.check(n).value = 1;
    }
    if (!c.limit.empty()) {
        f.Combo3.caption = c.limit;
        Combo3_Click(f);
    }
    if (c.id) {
        f.ID.caption = *c.id;
        f.privious_id_match.value = 1;
    }
}

const cpu_family& family_of(cpu_choice family) { return family == cpu_choice::m16c ? m16c_family : m32r_family; }

std::string blocks_never_sent(cpu_choice family, const std::set<int>& labels) {
    if (family == cpu_choice::m16c)
        return "the writer is sent no block of the M16C map (the window's button sends none for it): nothing would "
               "be erased or locked";
    std::vector<std::string> codeless;
    for (const int label : labels)
        if (writer_code_of({&m32r_family, label}) < 0) codeless.push_back(block_label{&m32r_family, label}.text());
    if (codeless.empty()) return {};
    return "ブロック０ and ブロック１ of the M32R map are never erased or locked: the writer is sent no code for " +
           std::string(codeless.size() == 2 ? "them" : codeless[0]) + "; choose among ブロック２ to ブロック８";
}

std::string blocks_to_send(const main_form& f) {
    std::string out;
    // Only M32R's blocks with a code are sent (read_block_checks).
    if (f.cpu_is_m32r == 1)
        for (int n = 1; n <= 9; ++n)
            if (f.check(n).value == 1 && writer_code_of(label_of_box(m32r_family, n)) >= 0)
                out += (out.empty() ? "" : ", ") + block_named(f, n);
    return out.empty() ? "none" : out;
}

void answer_block_form(main_form& f, block_form& dlg, const std::optional<std::set<int>>& labels) {
    for (auto& box : dlg.target_block) box.value = 0;
    if (labels)
        for (const int label : *labels)
            if (const int n = check_box_of({&block_map(f), label})) dlg.target_block[static_cast<std::size_t>(n - 1)].value = 1;
    OK_buttun_Click(dlg, f);
}

namespace {

// A ROM image read back replaces only what the tool can read back itself:
// a new name, an empty file, or ROM data its conversion takes (an earlier
// read, say). Saved memories, or anything else, stay.
std::string check_rom_output(main_form& f, const std::string& file) {
    const std::filesystem::path p = path_from_utf8(file);
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) return file + " is a folder";
    pending_save probe;
    if (!probe.check(file)) return file + " cannot be written: " + probe.problem();
    const save_target target = check_save_target(p);
    if (target != save_target::new_file && std::filesystem::file_size(p, ec) > 0) {
        const std::string was_path = f.memory_file_path;
        const std::uint8_t was_filter = f.block_filter_on;
        f.memory_file_path = file;
        f.block_filter_on = 1;
        std::string memories_copy;
        const bool memories = check_memories_file(file, memories_copy) == memories_check::complete;
        // An image read from a blank area holds no data record, and is one.
        const conversion converted = memories ? conversion::no_file : convert_rom_data_file(f);
        const bool rom_data = converted == conversion::ok || converted == conversion::no_data;
        f.files.close(1);
        f.files.close(2);
        f.block_filter_on = was_filter;
        f.memory_file_path = was_path;
        // What the look read is not what the job will write.
        f.Label2.caption.clear();
        f.detail.clear();
        f.found.file_resolved.clear();
        f.found.file_sha256.clear();
        if (memories) return file + " holds saved memories, which a ROM image would replace: choose a new name";
        if (!rom_data)
            return file + " is there and is no ROM data file the tool reads, so it is not replaced: choose a new name";
    }
    // The file is the chosen one, as SELECT FILE would make it; what it holds
    // now is not read for a job.
    f.memory_file_path = file;
    f.Label10.caption = file;
    return {};
}

}  // namespace

std::string check_operation_file(main_form& f, file_use use, const std::string& file, rom_filter filter) {
    const std::filesystem::path p = path_from_utf8(file);
    std::error_code ec;
    if (use == file_use::rom_output) return check_rom_output(f, file);
    if (use == file_use::memories_save) {
        if (std::filesystem::is_directory(p, ec)) return file + " is a folder";
        // The save's own first checks, nothing made or removed: what is
        // there must be replaceable, and its folder must take a new file.
        pending_save probe;
        if (!probe.check(file)) return file + " cannot be saved: " + probe.problem();
    } else if (!is_plain_file(p)) {
        return file + " is no readable file";
    }
    file_select_Click(f);
    if (use == file_use::rom_data) {
        // The job converts the file again; a file it would refuse is refused
        // here, before the port is opened. The store-bound operations use
        // the store's filter.
        const std::uint8_t was = f.block_filter_on;
        if (filter == rom_filter::store) f.block_filter_on = 1;
        const bool usable = convert_or_report(f);
        f.files.close(1);
        f.files.close(2);
        f.block_filter_on = was;
        if (!usable) return file + ": " + f.Label9.caption + (f.detail.empty() ? "" : ": " + f.detail);
        f.Label9.caption.clear();
        // A writer version up takes only a writer program.
        if (filter == rom_filter::own)
            if (const std::string why = writer_program_id_problem(f); !why.empty()) return "WRITER-ID ERROR: " + why;
    }
    if (use == file_use::memories_save && !f.ramdata_get.visible)
        return file + " holds saved memories: the window offers TRANSMIT MEMORIES for it (use transmit)";
    // Read whole as TRANSMIT MEMORIES and compare read it, before the port.
    if (use == file_use::memories_file) {
        std::string copy, why, bytes;
        const bool whole = check_memories_file(file, copy, &why, &bytes) == memories_check::complete;
        if (!f.ramdata_store.visible)
            return file + " is no memories file: " +
                   (!why.empty() ? why
                                 : "its first lines are not a memories file's header, CPU line (M32R or M16C) and "
                                   "first address line 00000000");
        if (!whole) return file + " is no whole memories file" + (why.empty() ? ": it cannot be read" : ": " + why);
        // A kept copy goes only as its save kept it (a rehearsal too).
        const job_history users(job_history::user_folder());
        const std::string damage = (f.history ? *f.history : users).check_kept_file(file, sha256_hex(bytes));
        if (!damage.empty()) return file + " is a kept copy of a unit, and " + damage;
    }
    return {};
}

}  // namespace torvela
