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
            if (const int n = check_of_block(c.family, label)) f.check(n).value = 1;
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

int check_of_block(cpu_choice family, int label) {
    if (family == cpu_choice::m16c) return label >= 0 && label <= 6 ? 7 - label : 0;
    return label >= 0 && label <= 8 ? label + 1 : 0;
}

cpu_choice block_map_of(const main_form& f) {
    if (f.cpu_is_m16c == 1) return cpu_choice::m16c;
    if (f.cpu_is_m32r == 1) return cpu_choice::m32r;
    return flash_family(f.Label2.caption) == &m16c_family ? cpu_choice::m16c : cpu_choice::m32r;
}

std::string blocks_never_sent(cpu_choice family, const std::set<int>& labels) {
    if (family == cpu_choice::m16c)
        return "the writer is sent no block of the M16C map (the window's button sends none for it): nothing would "
               "be erased or locked";
    if (!labels.count(0) && !labels.count(1)) return {};
    return "ブロック０ and ブロック１ of the M32R map are never erased or locked: the writer is sent no code for " +
           std::string(labels.count(0) && labels.count(1) ? "them" : labels.count(0) ? "ブロック０" : "ブロック１") +
           "; choose among ブロック２ to ブロック８";
}

std::string blocks_to_send(const main_form& f) {
    std::string out;
    if (f.cpu_is_m32r == 1)
        for (int n = 3; n <= 9; ++n)
            if (f.check(n).value == 1) out += (out.empty() ? "" : ", ") + block_named(f, n);
    return out.empty() ? "none" : out;
}

void answer_block_form(main_form& f, block_form& dlg, const std::optional<std::set<int>>& labels) {
    for (auto& box : dlg.target_block) box.value = 0;
    if (labels)
        for (const int label : *labels)
            if (const int n = check_of_block(block_map_of(f), label)) dlg.target_block[static_cast<std::size_t>(n - 1)].value = 1;
    OK_buttun_Click(dlg, f);
}

std::string ticked_blocks(main_form& f) {
    std::string ticked;
    for (int n = 1; n <= 9; ++n)
        if (f.check(n).value == 1) ticked += (ticked.empty() ? "" : ",") + std::to_string(n);
    return ticked.empty() ? "none" : ticked;
}

std::string check_operation_file(main_form& f, file_use use, const std::string& file, rom_filter filter) {
    const std::filesystem::path p = path_from_utf8(file);
    std::error_code ec;
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
    }
    if (use == file_use::memories_save && !f.ramdata_get.visible)
        return file + " holds saved memories: the window offers TRANSMIT MEMORIES for it (use transmit)";
    if (use == file_use::memories_file && !f.ramdata_store.visible) return file + " is no memories file";
    // Read whole as TRANSMIT MEMORIES and compare read it, before the port.
    if (use == file_use::memories_file) {
        std::string copy, why, bytes;
        if (check_memories_file(file, copy, &why, &bytes) != memories_check::complete)
            return file + " is no whole memories file" + (why.empty() ? ": it cannot be read" : ": " + why);
        // A kept copy goes only as its save kept it (a rehearsal too).
        const job_history users(job_history::user_folder());
        const std::string damage = (f.history ? *f.history : users).check_kept_file(file, sha256_hex(bytes));
        if (!damage.empty()) return file + " is a kept copy of a unit, and " + damage;
    }
    return {};
}

}  // namespace torvela
