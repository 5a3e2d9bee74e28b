// A rehearsal predicts what a job sends: every operation that changes the
// writer, run once against the rehearsed writer and once against the
// independent writer model, must reach the same blocks, pages and
// commands, and leave the line and the operator's files untouched.
#include <gtest/gtest.h>

#include "engine/engine.hpp"
#include "erase/block_form.hpp"
#include "erase/erase.hpp"
#include "memories/memories.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "rehearsal/rehearsal.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/lock_bits.hpp"
#include "support.hpp"
#include "window/script_setup.hpp"

using namespace torvela;
using namespace test_support;

namespace {

enum class starts { blank, unit, holding_file };

struct rehearsal_case {
    const char* name;
    handler click;
    bool job;  // run by the sequencer, else a step on the port opened first
    file_use use = file_use::none;
    const char* file = "";  // "image", "block 2 image", "program", "memories", "save"
    script_choices choices = {};
    starts writer = starts::blank;
};

// What reached a writer, as both writers can tell it.
struct reached {
    int erase_all = 0, lock_enables = 0, lock_disables = 0, switch_sets = 0, target_writes = 0, program_pages = 0;
    std::vector<int> erased, locked;
    std::vector<std::uint32_t> written, read;
    std::string status;
    bool operator==(const reached&) const = default;
};

void PrintTo(const reached& r, std::ostream* os) {
    *os << "status " << r.status << ", erase all " << r.erase_all << ", erased " << r.erased.size() << ", locked "
        << r.locked.size() << ", enables " << r.lock_enables << ", disables " << r.lock_disables << ", switch "
        << r.switch_sets << ", target " << r.target_writes << ", program " << r.program_pages << ", written "
        << r.written.size() << ", read " << r.read.size();
}

// The files a case chooses, in a private folder.
struct case_files {
    unit_rig files_of;  // only its folder and file makers
    std::string path(const rehearsal_case& c) {
        const std::string f = c.file;
        if (f == "image") return files_of.rom_file(random_bytes(0x600, 3), "image");
        // Pages in block 2 only, beyond the blocks every image pass skips.
        if (f == "block 2 image") return files_of.rom_file(random_bytes(0x600, 5), "block2", 0x6000);
        if (f == "program") {
            std::string data = random_bytes(0x200, 4);
            std::copy(protocol::writer_program_id.begin(), protocol::writer_program_id.end(), data.begin() + 0x84);
            return files_of.rom_file(data, "program");
        }
        if (f == "memories") {
            write_file(files_of.path, files_of.memories());
            return files_of.path;
        }
        if (f == "save") return files_of.dir.file("saved.dat");
        return {};
    }
};

// The case's choices and file on `f`, the block dialog answered from them;
// a save writes `save_into` instead; a verify first finds its file written,
// as TRANSMIT ROM DATA leaves it.
template <typename Run>
void run_case(main_form& f, const rehearsal_case& c, const std::string& file, const std::string& save_into, Run run) {
    set_up_form(f, c.choices);
    if (c.use != file_use::none) {
        const rom_filter filter = c.click == writer_versionup_Click ? rom_filter::own : rom_filter::store;
        ASSERT_EQ(check_operation_file(f, c.use, file, filter), "");
        if (c.use == file_use::memories_save) f.memory_file_path = save_into;
    }
    if (c.writer == starts::holding_file) run(flashall_write_Click, true, true);
    if (!c.job) {
        ASSERT_TRUE(open_port_prologue(f));
    }
    run(c.click, c.job, false);
}

reached by_model(const rehearsal_case& c, const std::string& file) {
    unit_rig r;
    if (c.writer != starts::unit) r.sim.store.fill(0xFF);
    r.dlg.on_block_form = [&](main_form& f, block_form& dlg) { answer_block_form(f, dlg, c.choices.blocks); };
    for (int i = 0; i < 3; ++i) r.dlg.files.push_back(file);
    run_case(*r.form, c, file, r.dir.file("model.dat"), [&](handler click, bool, bool before) {
        guarded(*r.form, click);
        EXPECT_TRUE(r.run_job(3'600'000'000ull));
        if (!before) return;
        r.sim.erased_blocks.clear();
        r.sim.written_pages.clear();
        r.sim.read_pages.clear();
    });
    const writer_sim::writer& w = r.sim;
    reached out{w.erase_all_count, w.lock_enables, w.lock_disables, w.switch_sets, w.target_writes,
                w.program_pages_written, w.erased_blocks, {}, w.written_pages, w.read_pages, r.form->Label9.caption};
    for (std::size_t code = 0; code < w.locked.size(); ++code)
        if (w.locked[code]) out.locked.push_back(static_cast<int>(code));
    return out;
}

reached by_rehearsal(const rehearsal_case& c, const std::string& file) {
    rehearsal_port writer;
    traced_port serial(writer);
    writer_sim::scripted_box box;
    writer_sim::scripted_dialogs dlg;
    dlg.on_block_form = [&](main_form& f, block_form& d) { answer_block_form(f, d, c.choices.blocks); };
    for (int i = 0; i < 3; ++i) dlg.files.push_back(file);
    std_seq_files files;
    private_work_folder dir;
    main_form f(serial, box, dlg, files);
    writer.answer_to(f);
    front_driver driver(f, serial, timer_driver::offered::by_one_loop);
    driver.load(0);
    if (c.writer == starts::unit) writer.hold_unit(m32r_family);
    run_case(f, c, file, dir.file("rehearsed.dat"), [&](handler click, bool job, bool before) {
        guarded(f, click);
        EXPECT_TRUE(run_rehearsal(driver, f, job));
        if (before) writer.forget_what_went();
    });
    const rehearsed& w = writer.went;
    return {w.erase_all, w.lock_enables, w.lock_disables, w.switch_sets, w.target_writes, w.program_pages_written,
            w.erased_blocks, w.locked_blocks, w.written_pages, w.read_pages, f.Label9.caption};
}

class Rehearsal : public ::testing::TestWithParam<rehearsal_case> {};

TEST_P(Rehearsal, ReachesWhatTheWriterModelReaches) {
    const rehearsal_case& c = GetParam();
    case_files files;
    const std::string file = files.path(c);
    const std::string before = file.empty() || c.use == file_use::memories_save ? "" : read_file(file);
    const reached model = by_model(c, file);
    const reached rehearsal = by_rehearsal(c, file);
    EXPECT_EQ(rehearsal, model);
    EXPECT_EQ(model.status.empty(), false);
    // The operator's file is as it was; a save's file is never made.
    if (c.use == file_use::memories_save) {
        EXPECT_FALSE(exists(file));
    } else if (!file.empty()) {
        EXPECT_EQ(read_file(file), before);
    }
}

script_choices m32r_blocks(std::set<int> blocks) {
    script_choices c;
    c.family = cpu_choice::m32r;
    c.blocks = blocks;
    return c;
}

script_choices write_limit(const char* limit) {
    script_choices c;
    c.limit = limit;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    ChangingOperations, Rehearsal,
    ::testing::Values(
        rehearsal_case{"erase", allunlock_erase_Click, true},
        rehearsal_case{"save", ramdata_get_Click, true, file_use::memories_save, "save", {}, starts::unit},
        rehearsal_case{"transmit", ramdata_store_Click, true, file_use::memories_file, "memories"},
        rehearsal_case{"transmit_rom", flashall_write_Click, true, file_use::rom_data, "image"},
        rehearsal_case{"block_write", flashblock_write_Click, true, file_use::rom_data, "block 2 image",
                       m32r_blocks({2, 4})},
        rehearsal_case{"write", write_Click, false, file_use::rom_data, "block 2 image"},
        rehearsal_case{"verify", verify_Click, false, file_use::rom_data, "image", {}, starts::holding_file},
        rehearsal_case{"version_up", writer_versionup_Click, true, file_use::rom_data, "program"},
        rehearsal_case{"block_erase", block_erase_Click, false, file_use::none, "", m32r_blocks({2, 3})},
        rehearsal_case{"lock_set", rockbit_set_Click, false, file_use::none, "", m32r_blocks({4, 6})},
        rehearsal_case{"lock_enable", rockbit_on_Click, false},
        rehearsal_case{"lock_disable", rockbit_non_Click, false},
        rehearsal_case{"switch", swon_en_Click, false},
        rehearsal_case{"target_write", target_write_Click, false},
        rehearsal_case{"target_direct_write", unit_3mode_Click, true, file_use::rom_data, "image", write_limit("10")}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
