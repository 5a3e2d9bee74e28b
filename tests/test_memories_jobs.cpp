// SAVE MEMORIES TO FILE and TRANSMIT MEMORIES end to end against the
// simulated writer; what a save does when it fails after the verify; the
// memories file checked before a transmit; the switch operation, target
// write and verify buttons; the block dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>
#endif

#include "erase/block_form.hpp"
#include "window/front.hpp"
#include "rom_data/image_jobs.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "service/look.hpp"
#include "memories/memories.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/confirm_commands.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault;
using writer_sim::fault_kind;

// Through a folder and a file named in Japanese, over an existing file.
TEST(MemoriesRoundTrip, SaveThenTransmitRestoresTheStore) {
    unit_rig r;
    const std::string folder = r.dir.file("テスト");
    std::filesystem::create_directory(path_from_utf8(folder));
    r.path = folder + "/メモリ.dat";
    r.choose("old contents\r\n");
    ASSERT_TRUE(r.form->ramdata_get.visible);
    ramdata_get_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"TORVELA|OK TO SAVE MEMORIES TO FILE?"}));
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_FALSE(r.port.PortOpen());
    const std::string saved = read_file(r.path);
    EXPECT_TRUE(saved == r.memories());
    // No temporary file left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path_from_utf8(folder)), {}), 1);
    // 642 lines: the header has CR and LF bytes of its own, so count records.
    EXPECT_EQ(crlf_lines(saved.substr(23)).size(), 641u);
    const std::vector<std::string> statuses = {
        "START TO SAVE MEMORIES TO FILE", "CHECK WRITER-ID OK", "INSTALLER MODE CHECK NOW!",
        "MACHINE VERSION CHECK NOW!", "CPU TYPE CHECK NOW!", "READ NOW!", "READ OK!",
        "VERIFY NOW!", "VERIFY OK", "BLOCK ERASE OK", "SAVE MEMORIES TO FILE COMPLETE"};
    EXPECT_EQ(r.status_history(), statuses);
    // The save ends by erasing the memories blocks of the writer.
    EXPECT_EQ(r.sim.erased_blocks, (std::vector<int>{0, 1}));

    r.clear_writer();
    const auto before_transmit = static_cast<std::ptrdiff_t>(r.status_history().size());
    r.dlg.files.push_back(r.path);
    file_select_Click(*r.form);
    ASSERT_TRUE(r.form->ramdata_store.visible);
    ASSERT_FALSE(r.form->ramdata_get.visible);
    ramdata_store_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "TRANSMIT MEMORIES COMPLETE");
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_TRUE(std::equal(r.area.begin(), r.area.end(), r.sim.store.begin() + 0x10000));
    EXPECT_TRUE(std::equal(std::begin(version_bytes), std::end(version_bytes), r.sim.store.begin() + 0xA00));
    EXPECT_EQ(r.sim.store[0], 0x03);
    EXPECT_EQ(r.sim.store[1], 0x21);
    EXPECT_EQ(r.sim.pages_written, 130);
    EXPECT_EQ(r.sim.cpu_type_checks, 1);
    const std::vector<std::string> transmit_statuses = {
        "START TO TRANSMIT MEMORIES", "CHECK WRITER-ID OK", "INSTALLER MODE CHECK NOW!",
        "MACHINE VERSION CHECK NOW!", "BLOCK ERASE OK", "TRANSMIT NOW!", "TRANSMIT OK",
        "VERIFY NOW!", "VERIFY OK", "CPU TYPE CHECK NOW!", "CPU TYPE CHECK OK",
        "TRANSMIT MEMORIES COMPLETE"};
    EXPECT_EQ(std::vector<std::string>(r.status_history().begin() + before_transmit, r.status_history().end()), transmit_statuses);

    // Saved again from the restored writer, into a new file: the same bytes.
    r.dlg.files.push_back(r.dir.file("again.dat"));
    file_select_Click(*r.form);
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_TRUE(read_file(r.dir.file("again.dat")) == saved);
}

TEST(MemoriesRoundTrip, HeaderWithoutSeparatorsCannotBeVerified) {
    // Read back, such a header is no header page: the verify fails and the
    // chosen file is not replaced, so it is never taken for a memories file.
    unit_rig r;
    r.sim.store[0xA00 + 6] = 0x41;
    r.choose("");
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "VERIFY ERROR");
    r.dlg.files.push_back(r.path);
    file_select_Click(*r.form);
    EXPECT_FALSE(r.form->ramdata_store.visible);
    EXPECT_EQ(read_file(r.path), "");
}

// ---- after the verify: the memories are committed before the erase ----------

// What the disk does to the save's commit: nothing, the rename fails, the
// folder's sync fails, or the file is replaced by another one right after
// it was put in place (before the writer is erased).
enum class disk { writes, rename_fails, sync_fails, replaced_after_rename };

// The time left the progress line shows, against what the job then took,
// from its first page on: within a tenth of what remained.
struct time_left_case {
    const char* name;
    void (*prepare)(unit_rig&);
    void (*click)(main_form&);
};

class TimeLeft : public ::testing::TestWithParam<time_left_case> {};

TEST_P(TimeLeft, MatchesWhatTheJobThenTakes) {
    unit_rig r;
    r.choose("old\r\n");
    GetParam().prepare(r);
    progress_line line;
    std::vector<std::pair<std::int64_t, std::int64_t>> shown;  // (at, left)
    r.after_event = [&](writer_sim::rig& g) {
        const auto now = static_cast<std::int64_t>(g.line.now_us / 1000);
        line.update(*g.form, now);
        if (line.left_ms() >= 0) shown.emplace_back(now, line.left_ms());
    };
    // A target direct write's time left runs to the start of its target
    // write, whose length only the writer knows.
    std::int64_t target_write_at = -1;
    r.after_event = [&, shown_at = r.after_event](writer_sim::rig& g) {
        shown_at(g);
        if (g.form->changes.target && target_write_at < 0)
            target_write_at = static_cast<std::int64_t>(g.line.now_us / 1000);
    };
    GetParam().click(*r.form);
    ASSERT_TRUE(r.run_job());
    ASSERT_EQ(r.form->last_outcome, outcome::success) << r.form->Label9.caption;
    const auto end = target_write_at >= 0 ? target_write_at : static_cast<std::int64_t>(r.line.now_us / 1000);
    ASSERT_GT(shown.size(), 100u);
    for (const auto& [at, left] : shown) {
        SCOPED_TRACE(testing::Message() << "at " << at << " ms of " << end);
        EXPECT_NEAR(static_cast<double>(left), static_cast<double>(end - at), 0.1 * static_cast<double>(end - at));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, TimeLeft,
    ::testing::Values(
        time_left_case{"Save", [](unit_rig&) {}, ramdata_get_Click},
        time_left_case{"TransmitMemories",
                       [](unit_rig& r) {
                           r.choose(r.memories());
                           r.clear_writer();
                       },
                       ramdata_store_Click},
        time_left_case{"TransmitRomData",
                       [](unit_rig& r) { r.choose_path(r.rom_file(random_bytes(0x3000, 3), "image")); },
                       flashall_write_Click},
        time_left_case{"TransmitSmallRomData",
                       [](unit_rig& r) { r.choose_path(r.rom_file(random_bytes(0x300, 4), "small")); },
                       flashall_write_Click},
        time_left_case{"TargetDirectWrite",
                       [](unit_rig& r) { r.choose_path(r.rom_file(random_bytes(0x1000, 6), "direct")); },
                       unit_3mode_Click},
        time_left_case{"WriterVersionUp",
                       [](unit_rig& r) {
                           std::string program = random_bytes(0x1800, 5);
                           std::copy(protocol::writer_program_id.begin(), protocol::writer_program_id.end(),
                                     program.begin() + 0x84);
                           r.choose_path(r.rom_file(program, "writer"));
                       },
                       writer_versionup_Click},
        time_left_case{"CompareMemories", [](unit_rig& r) { r.choose(r.memories()); }, start_memories_compare}),
    [](const auto& p) { return std::string(p.param.name); });

// The service engineer's looks: what the writer holds, and a file against
// it. Whatever the file or the writer, nothing on the writer changes.
struct look_case {
    const char* name;
    void (*prepare)(unit_rig&);  // the file chosen, the writer, faults
    bool compare;                // compare the chosen file; else info
    const char* status;
    std::vector<std::string> differences;  // "where offset": the compare's
};

class Looks : public ::testing::TestWithParam<look_case> {};

TEST_P(Looks, ReadOnlyAndTruthful) {
    const look_case& c = GetParam();
    unit_rig r;
    r.choose(r.memories());
    c.prepare(r);
    const auto store = r.sim.store;
    (c.compare ? start_memories_compare : start_writer_info)(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, c.status) << r.form->detail;
    std::vector<std::string> found;
    for (const auto& d : r.form->look.differences) found.push_back(d.where + " " + std::to_string(d.offset));
    EXPECT_EQ(found, c.differences);
    // A compare that read the writer whole shows its pass whole: every page
    // the writer sent, of as many.
    if (c.compare && (r.form->last_outcome == outcome::success || r.form->last_outcome == outcome::different)) {
        progress_line line;
        line.update(*r.form, 0);
        const std::string read = std::to_string(r.sim.pages_read);
        EXPECT_EQ(line.text().rfind("READ  PAGES " + read + "/" + read + " ", 0), 0u) << line.text();
    }
    if (!c.compare && r.form->last_outcome == outcome::success) {
        EXPECT_EQ(r.form->look.cpu, r.writer_holds_memories() ? "M32R" : "FF FF (blank)");
        EXPECT_EQ(r.form->look.holds_memories, r.writer_holds_memories());
        EXPECT_EQ(r.form->look.version, r.writer_holds_memories() ? r.memories().substr(0, 21) : "(blank)");
    }
    // Nothing written, erased, locked, switched or sent on to a target.
    EXPECT_TRUE(r.sim.store == store);
    EXPECT_EQ(r.sim.erase_all_count + r.sim.pages_written + r.sim.program_pages_written + r.sim.lock_enables +
                  r.sim.lock_disables + r.sim.switch_sets + r.sim.target_writes + r.sim.cpu_type_checks,
              0);
    EXPECT_TRUE(r.sim.erased_blocks.empty());
    EXPECT_FALSE(r.port.PortOpen());
    // The look leaves nothing in the way of the next job on the same writer:
    // a save takes a unit's memories out, and finds none in a blank writer.
    // After a wrong echo the writer drops the frame it was left in.
    const bool unit = r.writer_holds_memories();
    r.choose_path(r.dir.file("after-the-look.dat"));
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, unit ? "SAVE MEMORIES TO FILE COMPLETE" : "NO MEMORY ERROR") << r.form->detail;
}

// The file's byte at `offset` of memories page `page`, changed.
std::string with_byte_changed(std::string file, int page, int offset) {
    // header 21, CR LF, "M32R" CR LF; a page is its address line and four
    // lines of 128 digits, each with CR LF.
    const std::size_t at = 21 + 2 + 6 + static_cast<std::size_t>(page) * (10 + 4 * 130) + 10 +
                           static_cast<std::size_t>(offset / 64) * 130 + static_cast<std::size_t>(offset % 64) * 2;
    file[at] = file[at] == '0' ? '1' : '0';
    return file;
}

// A blank writer against the unit's file: the CPU line, the header, and
// every page but the unit's page of FF.
std::vector<std::string> blank_writer_differences() {
    std::vector<std::string> found = {"CPU -1", "header -1"};
    for (int p = 0; p < 128; ++p) {
        char where[16];
        std::snprintf(where, sizeof where, "%08X 0", p * 256);
        if (p != 3) found.push_back(where);
    }
    return found;
}

INSTANTIATE_TEST_SUITE_P(
    ServiceEngineer, Looks,
    ::testing::Values(
        look_case{"InfoOfAUnit", [](unit_rig&) {}, false, "WRITER INFORMATION COMPLETE", {}},
        look_case{"InfoOfABlankWriter", [](unit_rig& r) { r.clear_writer(); }, false, "WRITER INFORMATION COMPLETE", {}},
        look_case{"CompareEqual", [](unit_rig&) {}, true, "COMPARE MEMORIES OK", {}},
        look_case{"CompareOnePageChanged",
                  [](unit_rig& r) { r.choose(with_byte_changed(r.memories(), 5, 0x4F)); }, true,
                  "COMPARE MEMORIES DIFFERENT", {"00000500 79"}},
        look_case{"CompareAnotherCpuType",
                  [](unit_rig& r) {
                      std::string file = r.memories();
                      file.replace(23, 4, "M16C");
                      r.choose(file);
                  },
                  true, "COMPARE MEMORIES DIFFERENT", {"CPU -1"}},
        look_case{"CompareABlankWriter", [](unit_rig& r) { r.clear_writer(); }, true, "COMPARE MEMORIES DIFFERENT",
                  blank_writer_differences()},
        look_case{"CompareNoMemoriesFile", [](unit_rig& r) { r.choose("no memories\r\n"); }, true,
                  "NO MEMORY ERROR", {}},
        look_case{"CompareFaultMidRead", [](unit_rig& r) { r.sim.add_fault(silent("page:010500")); }, true,
                  "COMMUNICATION ERROR", {}},
        look_case{"InfoFaultInTheCounts", [](unit_rig& r) { r.sim.add_fault(garbled("echo:FF")); }, false,
                  "COMMUNICATION ERROR", {}}),
    [](const auto& p) { return std::string(p.param.name); });

struct commit_case {
    const char* name;
    std::vector<fault> faults;  // in the erase that ends the save
    disk chosen_file;
    const char* status;
    std::vector<int> erased;  // store blocks the writer erased (the fault spoils only the reply)
};

class SaveAfterVerify : public ::testing::TestWithParam<commit_case> {};

// Whatever fails after the verify, the memories exist somewhere: in the
// chosen file, or (the rename failing) in a verified copy beside it; until
// they are known to be on the disk the writer keeps them too, and the
// operator is told where the file is.
TEST_P(SaveAfterVerify, MemoriesAreNeverLost) {
    const commit_case& c = GetParam();
    unit_rig r;
    r.choose("old\r\n");
    for (const fault& x : c.faults) r.sim.add_fault(x);
    if (c.chosen_file == disk::sync_fails) {
        r.form->save.folder_sync = [](const held_folder&) { return false; };
    }
    static std::string replaced;
    replaced = r.path;
    if (c.chosen_file == disk::replaced_after_rename) {
        r.form->save.folder_sync = [](const held_folder&) {
            write_file(replaced + ".other", "someone else's\r\n");
            std::filesystem::rename(replaced + ".other", replaced);
            return true;
        };
    }
    ramdata_get_Click(*r.form);
    if (c.chosen_file == disk::rename_fails) {  // the chosen file became a folder while the writer was read
        std::filesystem::remove(r.path);
        std::filesystem::create_directory(r.path);
    }
    ASSERT_TRUE(r.run_job(60'000'000));
    EXPECT_EQ(r.form->Label9.caption, c.status);
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_EQ(r.sim.erased_blocks, c.erased);
    EXPECT_EQ(r.writer_holds_memories(), c.erased.size() < 2);
    if (c.chosen_file == disk::replaced_after_rename) {
        // The verified file is gone with the replacement: the writer, never
        // erased, holds the only copy, and the note says so.
        EXPECT_NE(r.form->detail.find("was replaced by someone else right after the save put it there; the writer "
                                      "still holds the memories"),
                  std::string::npos)
            << r.form->detail;
        EXPECT_TRUE(r.box.told.empty());
        return;
    }
    const std::string on_disk = c.chosen_file == disk::rename_fails ? r.form->save.kept_copy() : r.path;
    EXPECT_TRUE(read_file(on_disk) == r.memories());
    if (c.chosen_file == disk::rename_fails) {
        EXPECT_EQ(std::filesystem::path(on_disk).filename().string().rfind("unit.verified-", 0), 0u);
    }
    EXPECT_EQ(r.files_in_folder(), c.chosen_file == disk::rename_fails ? 2u : 1u);
    ASSERT_EQ(r.box.told.size(), c.chosen_file == disk::writes ? 0u : 1u);
    if (!r.box.told.empty()) {
        EXPECT_NE(r.box.told[0].find(on_disk), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SaveAfterVerify,
    ::testing::Values(commit_case{"second_erase_refused", {refused("done:20", 2)},
                                  disk::writes, "INSTALLER ERROR", {0, 1}},
                      commit_case{"erase_silent", {silent("done:20")}, disk::writes, "COMMUNICATION ERROR", {0}},
                      commit_case{"line_drops_in_erase", {line_drops("done:20")},
                                  disk::writes, "COMMUNICATION ERROR", {0}},
                      commit_case{"rename_fails", {}, disk::rename_fails, "FILE SAVE ERROR", {}},
                      commit_case{"folder_sync_fails", {}, disk::sync_fails, "FILE SAVE ERROR", {}},
                      commit_case{"replaced_right_after_the_rename", {}, disk::replaced_after_rename,
                                  "FILE SAVE ERROR", {}}),
    [](const auto& p) { return std::string(p.param.name); });

// The folder of a running save is moved aside during the verify and
// something else put at its name: a link to a neighbour's folder holding a
// forged file under the new file's own name, or an empty folder. The save
// acts on the folder it began in: nothing behind the chosen path is taken
// for the unit, the writer keeps the memories, and the verified copy is
// where the message says, under a name the next save there leaves alone.
// Where the system lets nobody move a held folder (Windows), the move fails
// and the save completes into the chosen file.
enum class swapped_in { link_to_forged_folder, empty_folder };

class SaveFolderSwapped : public ::testing::TestWithParam<swapped_in> {};

TEST_P(SaveFolderSwapped, TheSaveKeepsToTheFolderItOpened) {
    namespace fs = std::filesystem;
    unit_rig r;
    const fs::path work = path_from_utf8(r.dir.file("work")), aside = path_from_utf8(r.dir.file("work.old"));
    fs::create_directory(work);
    r.choose_path(utf8_from_path(work / "u.dat"));
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->job_phase == 11; }, 60'000'000));
    fs::path hidden;
    for (const auto& e : fs::directory_iterator(work)) hidden = e.path().filename();
    ASSERT_EQ(hidden.string().rfind(".u.dat.save-", 0), 0u);
    std::error_code held;
    fs::rename(work, aside, held);
    if (held) {
        ASSERT_TRUE(r.run_job(60'000'000));
        EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
        EXPECT_TRUE(read_file(utf8_from_path(work / "u.dat")) == r.memories());
        return;
    }
    if (GetParam() == swapped_in::link_to_forged_folder) {
        const fs::path theirs = path_from_utf8(r.dir.file("theirs"));
        fs::create_directory(theirs);
        write_file(utf8_from_path(theirs / hidden), "forged\r\n");
        fs::create_directory_symlink(theirs, work);
    } else {
        fs::create_directory(work);
    }
    ASSERT_TRUE(r.run_job(60'000'000));
    EXPECT_EQ(r.form->Label9.caption, "FILE SAVE ERROR");
    EXPECT_TRUE(r.writer_holds_memories());
    EXPECT_FALSE(exists(utf8_from_path(work / "u.dat")));
    const std::string kept = r.form->save.kept_copy();
    EXPECT_EQ(path_from_utf8(kept).parent_path(), aside);
    EXPECT_TRUE(read_file(kept) == r.memories());
    EXPECT_NE(r.form->detail.find("no longer leads to the folder the save began in"), std::string::npos);
    ASSERT_EQ(r.box.told.size(), 1u);
    EXPECT_NE(r.box.told[0].find(kept), std::string::npos);
    // The next save into the moved folder takes the unit and leaves the
    // kept copy as it is.
    r.choose_path(utf8_from_path(aside / "u.dat"));
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job(60'000'000));
    EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_TRUE(read_file(utf8_from_path(aside / "u.dat")) == r.memories());
    EXPECT_TRUE(read_file(kept) == r.memories());
}

INSTANTIATE_TEST_SUITE_P(Neighbour, SaveFolderSwapped,
                         ::testing::Values(swapped_in::link_to_forged_folder, swapped_in::empty_folder),
                         [](const auto& p) {
                             return std::string(p.param == swapped_in::empty_folder ? "empty_folder"
                                                                                    : "link_to_forged_folder");
                         });

// ---- the replacement of the chosen file ----------------------------------------

// How the operator names the file: as it is, by a link to it, or through a
// linked folder's ".." (which the system takes as the parent of the folder
// the link points to, not of the link).
enum class named { directly, through_link, through_linked_folder_parent };

struct replace_case {
    const char* name;
    named how;
    std::filesystem::perms mode;
};

class SaveReplacement : public ::testing::TestWithParam<replace_case> {};

TEST_P(SaveReplacement, KeepsModeAndLink) {
    namespace fs = std::filesystem;
    unit_rig r;
    const named how = GetParam().how;
#ifdef _WIN32
    if (how != named::directly) GTEST_SKIP() << "symbolic links need privileges on Windows";
#endif
    const std::string folder = how == named::through_linked_folder_parent ? r.dir.file("other") : r.dir.path();
    const std::string real = folder + "/real.dat";
    fs::create_directories(folder + "/inner");
    write_file(real, "old\r\n");
    fs::permissions(real, GetParam().mode, fs::perm_options::replace);
    const fs::perms mode = fs::status(real).permissions();  // as far as the platform keeps modes
    std::string chosen = real;
    if (how == named::through_link) {
        chosen = r.dir.file("link.dat");
        fs::create_symlink("real.dat", chosen);
    } else if (how == named::through_linked_folder_parent) {
        // A file of that name beside the link, which nobody chose.
        write_file(r.dir.file("real.dat"), "beside the link\r\n");
        fs::create_symlink("other/inner", r.dir.file("lnk"));
        chosen = r.dir.file("lnk/../real.dat");
    }
    // A save killed earlier left its new file; a foreign file looks alike.
    write_file(folder + "/.real.dat.save-abcdefghijkl.tmp", "partial");
    write_file(folder + "/.real.dat.other", "not ours");
    r.choose_path(chosen);
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_TRUE(read_file(real) == r.memories());
    EXPECT_EQ(fs::status(real).permissions(), mode);
    EXPECT_EQ(fs::is_symlink(chosen), how == named::through_link);
    EXPECT_FALSE(exists(folder + "/.real.dat.save-abcdefghijkl.tmp"));
    EXPECT_TRUE(exists(folder + "/.real.dat.other"));
    if (how == named::through_linked_folder_parent) {
        EXPECT_EQ(read_file(r.dir.file("real.dat")), "beside the link\r\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), how == named::through_link ? 4 : 3);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveReplacement,
    ::testing::Values(replace_case{"existing_file", named::directly,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                       std::filesystem::perms::group_read},
                      replace_case{"through_link", named::through_link,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write},
                      replace_case{"through_linked_folder_parent", named::through_linked_folder_parent,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write}),
    [](const auto& p) { return std::string(p.param.name); });

// Two writers on one bench saving into one new file, the second started
// before the first has put its file in place: the first save's hidden file
// is not taken for a leftover, and the second does not replace what the
// first saved. Both units' memories exist afterwards, and every file a
// message names is there.
TEST(SaveFaults, TwoWritersIntoOneNewFileKeepBothUnits) {
    unit_rig first(7), second(8);
    second.path = first.path;
    second.choose_path(first.path);
    first.choose_path(first.path);
    ramdata_get_Click(*first.form);
    ASSERT_TRUE(first.run_until([&] { return first.form->job_phase == 11; }, 60'000'000));
    ramdata_get_Click(*second.form);
    ASSERT_TRUE(first.run_job());
    ASSERT_TRUE(second.run_job());
    EXPECT_EQ(first.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_EQ(second.form->Label9.caption, "FILE SAVE ERROR");
    EXPECT_TRUE(read_file(first.path) == first.memories());
    EXPECT_TRUE(read_file(second.form->save.kept_copy()) == second.memories());
    EXPECT_TRUE(second.writer_holds_memories());
    ASSERT_EQ(second.box.told.size(), 1u);
    EXPECT_NE(second.box.told[0].find(second.form->save.kept_copy()), std::string::npos);
    EXPECT_NE(second.box.told[0].find("while the save ran"), std::string::npos);
    EXPECT_EQ(first.files_in_folder(), 2u);
    // The second writer's unit then goes into a file of its own.
    second.choose_path(second.dir.file("second.dat"));
    ramdata_get_Click(*second.form);
    ASSERT_TRUE(second.run_job());
    EXPECT_EQ(second.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_TRUE(read_file(second.dir.file("second.dat")) == second.memories());
    EXPECT_FALSE(second.writer_holds_memories());
}

// The chosen file exists and someone rewrites it in place (the same file,
// other bytes: a size of its own, as a clock may not have moved) while the
// save runs: their bytes stay, the unit is kept beside them and stays on
// the writer.
TEST(SaveFaults, AFileRewrittenInPlaceMeanwhileIsNotReplaced) {
    unit_rig r;
    r.choose(unit_rig(9).memories());
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->job_phase == 11; }, 60'000'000));
    {
        std::ofstream same(path_from_utf8(r.path), std::ios::binary | std::ios::in | std::ios::out);
        same.seekp(0, std::ios::end);
        same << "theirs\r\n";
    }
    const std::string theirs = read_file(r.path);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "FILE SAVE ERROR");
    EXPECT_EQ(read_file(r.path), theirs);
    EXPECT_TRUE(read_file(r.form->save.kept_copy()) == r.memories());
    EXPECT_TRUE(r.writer_holds_memories());
    EXPECT_NE(r.form->detail.find("was written by someone else while the save ran"), std::string::npos);
}

// Something the tool did not expect throws inside a step: the job ends
// through the abort, the program goes on, and the next save works.
TEST(SaveFaults, ExceptionInAStepEndsTheJobNotTheTool) {
    unit_rig r;
    r.choose("keep me\r\n");
    r.port.throw_at_send = 60;  // in the middle of the page reads
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "COMMUNICATION ERROR");
    EXPECT_EQ(r.form->last_outcome, outcome::internal_error);
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_FALSE(r.files.is_open(1));
    EXPECT_TRUE(busy_pictures_reset(*r.form));
    EXPECT_TRUE(read_file(r.path) == "keep me\r\n");
    EXPECT_EQ(r.files_in_folder(), 1u);
    EXPECT_EQ(r.traced.document("t").find("# internal error: the serial driver failed") == std::string::npos, false);
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_TRUE(read_file(r.path) == r.memories());
}

#ifndef _WIN32
// The disk refuses the records for a while in the middle of the read (a
// full disk, a quota): the save fails before anything is erased, even if
// later records and the close go through.
TEST(SaveFaults, RecordsTheDiskRefusedFailTheSave) {
    unit_rig r;
    r.choose("old\r\n");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    auto limit = [&](rlim_t bytes) {
        rlimit l = saved;
        l.rlim_cur = std::min(bytes, saved.rlim_max);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &l), 0);
    };
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 131; }, 60'000'000));
    limit(4096);
    r.after_event = [&](writer_sim::rig& g) {
        if (g.form->engine_step == 132 && g.form->address_frame[2] == 60) limit(saved.rlim_cur);
    };
    const bool ended = r.run_job();
    limit(saved.rlim_cur);
    std::signal(SIGXFSZ, old_handler);
    ASSERT_TRUE(ended);
    EXPECT_EQ(r.form->Label9.caption, "FILE SAVE ERROR");
    EXPECT_EQ(r.form->last_outcome, outcome::file_problem);
    // The note names the file, the system's reason and what stands.
    for (const std::string& said : {r.path, std::string(std::strerror(EFBIG)), std::string("the writer still holds")})
        EXPECT_NE(r.form->detail.find(said), std::string::npos) << r.form->detail;
    EXPECT_TRUE(read_file(r.path) == "old\r\n");
    EXPECT_EQ(r.files_in_folder(), 1u);
    EXPECT_TRUE(r.sim.erased_blocks.empty());
}
#endif

// A folder that cannot take the new file is refused before anything is
// sent: a missing one, and one the user may not write to.
TEST(SaveFaults, UnwritableFolderShowsFileOpenError) {
    for (const char* folder : {"no/such/folder", "read-only"}) {
        unit_rig r;
        std::filesystem::create_directory(r.dir.file("read-only"));
        std::filesystem::permissions(r.dir.file("read-only"), std::filesystem::perms::owner_read |
                                                                  std::filesystem::perms::owner_exec);
#ifndef _WIN32
        if (std::string(folder) == "read-only" && geteuid() == 0) continue;  // root writes anywhere
#else
        if (std::string(folder) == "read-only") continue;  // no such mode on Windows
#endif
        r.form->memory_file_path = r.dir.file(std::string(folder) + "/unit.dat");
        ramdata_get_Click(*r.form);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, "FILE OPEN ERROR") << folder;
        EXPECT_TRUE(sent(r).empty()) << folder;
        EXPECT_FALSE(r.port.PortOpen());
        EXPECT_TRUE(busy_pictures_reset(*r.form));
        std::filesystem::permissions(r.dir.file("read-only"), std::filesystem::perms::owner_all);
        // Nothing of the refused save stands in the way of the next one.
        r.choose_path(r.path);
        ramdata_get_Click(*r.form);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE") << folder;
    }
}

// ---- the memories file is checked whole before anything is sent ---------------

namespace {

// The text of a complete file changed: everything after the header line can
// be cut or edited (the header itself holds CR and LF bytes). Data begin at
// 39: header 21, CR LF, "M32R" CR LF, the first page's address line.
using file_edit = std::string (*)(std::string);
std::string lf_endings(std::string t) {
    std::string body = t.substr(21);
    for (std::size_t at; (at = body.find("\r\n")) != std::string::npos;) body.erase(at, 1);
    return t.substr(0, 21) + body;
}
std::string lower_case_digit(std::string t) {
    const std::size_t at = t.find_first_of("ABCDEF", 39);
    return t.replace(at, 1, 1, static_cast<char>(t[at] + 32));
}

struct check_case {
    const char* name;
    file_edit edit;      // nullptr: the file deleted
    const char* status;  // "TRANSMIT MEMORIES COMPLETE": the whole area arrives
    const char* said = "";  // in the detail beside a failure: where and what
};

}  // namespace

class MemoriesFileCheck : public ::testing::TestWithParam<check_case> {};

TEST_P(MemoriesFileCheck, TransmitsAllOrNothing) {
    unit_rig r;
    r.choose(r.memories());
    ASSERT_TRUE(r.form->ramdata_store.visible);
    // Changed after it was chosen (a save of an older version cut short).
    if (GetParam().edit)
        write_file(r.path, GetParam().edit(r.memories()));
    else
        std::remove(r.path.c_str());
    r.clear_writer();
    ramdata_store_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, GetParam().status);
    EXPECT_EQ(r.form->job_no, 0);
    EXPECT_TRUE(busy_pictures_reset(*r.form));
    if (std::string(GetParam().status) == "TRANSMIT MEMORIES COMPLETE") {
        EXPECT_TRUE(std::equal(r.area.begin(), r.area.end(), r.sim.store.begin() + 0x10000));
        EXPECT_EQ(r.sim.pages_written, 130);
        return;
    }
    EXPECT_TRUE(r.line.log.empty());  // not even the writer-ID check
    EXPECT_EQ(r.form->detail.rfind("nothing was sent: " + r.path, 0), 0u) << r.form->detail;
    EXPECT_NE(r.form->detail.find(GetParam().said), std::string::npos) << r.form->detail;
    // A file error closes the port like the other open failures; a file
    // that is short or malformed leaves it open, like NO MEMORY ERROR.
    EXPECT_EQ(r.port.PortOpen(), std::string(GetParam().status) != "FILE OPEN ERROR");
}

INSTANTIATE_TEST_SUITE_P(
    Files, MemoriesFileCheck,
    ::testing::Values(
        check_case{"complete", [](std::string file) { return file; }, "TRANSMIT MEMORIES COMPLETE"},
        check_case{"trailing_empty_line", [](std::string file) { return file + "\r\n"; }, "TRANSMIT MEMORIES COMPLETE"},
        check_case{"lf_endings", lf_endings, "TRANSMIT MEMORIES COMPLETE"},
        check_case{"last_line_removed", [](std::string file) { return file.substr(0, file.size() - 130); },
                   "NO MEMORY ERROR", "line 642: the file ends where a line of 128 upper-case hex digits of page 00007F00"},
        check_case{"cut_inside_a_line", [](std::string file) { return file.substr(0, file.size() - 70); },
                   "NO MEMORY ERROR", "line 642: a line of 128 upper-case hex digits"},
        check_case{"only_62_pages", [](std::string file) { return file.substr(0, 29 + 62 * 530); }, "NO MEMORY ERROR",
                   "line 313: the file ends where the address line 00003E00 is due"},
        check_case{"only_the_header", [](std::string file) { return file.substr(0, 21); }, "NO MEMORY ERROR",
                   "line 1: the file ends inside the header line"},
        check_case{"data_line_of_127", [](std::string file) { return file.erase(39 + 5, 1); }, "MEMORY FILE ERROR",
                   "line 4: a line of 128 upper-case hex digits of page 00000000 is due"},
        check_case{"non_hex_digit", [](std::string file) { return file.replace(39 + 200, 1, "G"); },
                   "MEMORY FILE ERROR", "line 5: "},
        check_case{"lower_case_digit", lower_case_digit, "MEMORY FILE ERROR", "line 4: "},
        check_case{"header_without_separators", [](std::string file) { return file.replace(6, 1, "_"); },
                   "MEMORY FILE ERROR", "line 1: no header line of a memories file"},
        check_case{"unknown_cpu_line", [](std::string file) { return file.replace(23, 4, "M99R"); },
                   "MEMORY FILE ERROR", "line 2: the CPU line (M32R or M16C) is due"},
        check_case{"pages_out_of_order", [](std::string file) { return file.replace(29 + 530, 8, "00000200"); },
                   "MEMORY FILE ERROR", "line 8: the address line 00000100 is due"},
        check_case{"something_follows", [](std::string file) { return file + "00008000\r\n"; }, "MEMORY FILE ERROR",
                   "line 643: something follows the last page"},
        check_case{"deleted", nullptr, "FILE OPEN ERROR", " cannot be read"}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- switch operation, target write --------------------------------------------

TEST(ConfirmCommands, SwitchOperationAtOnce) {
    writer_sim::rig r;
    command1_Click(*r.form);
    swon_en_Click(*r.form);
    EXPECT_TRUE(r.box.asked.empty());
    ASSERT_EQ(frames(r).size(), 1u);
    EXPECT_EQ(frames(r)[0], (bytes{0x25, 0x25}));
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 5'000'000));
    EXPECT_EQ(r.form->Label9.caption, "SWITCH OPERATION OK");
    EXPECT_EQ(r.form->job_phase, 8);
    EXPECT_EQ(r.sim.switch_sets, 1);
}

TEST(ConfirmCommands, TargetWriteWaitsAsLongAsItTakes) {
    writer_sim::rig r;
    r.sim.target_write_delay_us = 20'000'000;  // far beyond 751 ticks
    command1_Click(*r.form);
    target_write_Click(*r.form);
    EXPECT_EQ(r.box.asked,
              (std::vector<std::string>{"ROM WRITER -> TARGET DIRECT WRITE CHECK|ROM WRITER -> TARGET DIRECT WRITE?"}));
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 30'000'000));
    EXPECT_EQ(r.form->Label9.caption, "TARGET WRITE NOW!");
    EXPECT_EQ(r.form->job_phase, 10);
    EXPECT_TRUE(r.port.PortOpen());
    EXPECT_GT(r.line.now_us, 20'000'000u);
}

TEST(ConfirmCommands, TargetWriteRefusalsAndTheBox) {
    {
        writer_sim::rig r;
        command1_Click(*r.form);
        r.sim.add_fault(refused("done:C5"));
        target_write_Click(*r.form);
        ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 30'000'000));
        EXPECT_EQ(r.form->Label9.caption, "TARGET WRITE ERROR");
    }
    {
        writer_sim::rig r;
        command1_Click(*r.form);
        r.box.while_open = [&] { Command3_Click(*r.form); };
        target_write_Click(*r.form);
        EXPECT_TRUE(r.line.log.empty());
        EXPECT_EQ(r.form->engine_step, 0);
    }
}

// ---- verify button ------------------------------------------------------------

TEST(VerifyButton, ImageInTheWriterVerifiesOk) {
    writer_sim::rig r;
    private_work_folder dir;
    std::vector<std::uint8_t> data(64);
    for (std::size_t i = 0; i < 64; ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    write_file(dir.file("img.mot"), s2_record(0x001000, data) + "\n" + s2_record(0x010040, data) + "\n" + s8_end);
    r.form->memory_file_path = dir.file("img.mot");
    // What a transmit put into the store: the image shifted to 020000.
    std::copy(data.begin(), data.end(), r.sim.store.begin() + 0x021000);
    std::copy(data.begin(), data.end(), r.sim.store.begin() + 0x030040);
    command1_Click(*r.form);
    verify_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 5'000'000));
    EXPECT_EQ(r.form->Label9.caption, "VERIFY OK");
    EXPECT_EQ(r.form->job_phase, 9);
    EXPECT_EQ(r.sim.pages_read, 2);

    // The last byte of a page differs.
    r.sim.store[0x0300FF] = 0x00;
    verify_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 5'000'000));
    EXPECT_EQ(r.form->Label9.caption, "VERIFY ERROR");
    EXPECT_EQ(r.form->Label4.caption, "255");  // received bytes 0..9, not the differing one
    EXPECT_FALSE(r.files.is_open(1));
}

// ---- block dialog ---------------------------------------------------------------

TEST(BlockDialog, LabelsAndChoice) {
    writer_sim::rig r;
    block_form dlg;
    r.form->Label2.caption = "M16CFLASH";
    Form_Activate(dlg, *r.form);
    EXPECT_EQ(dlg.block[0].caption, "ブロック６0C0000-0CFFFF");
    EXPECT_EQ(dlg.block[7].caption, no_block_text);
    EXPECT_FALSE(dlg.target_block[7].visible);
    block_form m32r;
    r.form->Label2.caption = "M32RFLASH";
    Form_Activate(m32r, *r.form);
    EXPECT_EQ(m32r.block[8].caption, "ブロック８00050000-0005FFFF");
    block_form plain;
    r.form->Label2.caption = "M32R";
    Form_Activate(plain, *r.form);
    EXPECT_EQ(plain.block[0].caption, "ﾌﾞﾛｯｸ0");
    EXPECT_EQ(plain.block[2].caption, "Label3");

    for (int i = 0; i < 9; ++i) r.form->fblock(i).caption = "7";
    Form_Unload(plain);  // closed without OK
    EXPECT_EQ(r.form->fblockA.caption, "7");
    dlg.target_block[1].value = 1;
    dlg.target_block[8].value = 1;
    OK_buttun_Click(dlg, *r.form);
    EXPECT_TRUE(dlg.unloaded);
    std::string got;
    for (int i = 0; i < 9; ++i) got += r.form->fblock(i).caption;
    EXPECT_EQ(got, "010000001");
}

TEST(WorkFiles, PrivateFolderGoesWithTheWindow) {
    std::string folder;
    {
        writer_sim::rig r;
        folder = std::filesystem::path(r.form->image_file_path).parent_path().string();
#ifndef _WIN32
        EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_all);
#endif
        EXPECT_NE(r.form->image_file_path, r.form->control_file_path);
#ifndef _WIN32
        // No link planted in its place is followed.
        std::filesystem::create_symlink(r.form->memories_copy_path, r.form->control_file_path);
        EXPECT_FALSE(r.files.open_output(2, r.form->control_file_path));
#endif
        write_file(r.form->image_file_path, "x");
        Form_Unload(*r.form);
        EXPECT_FALSE(std::filesystem::exists(folder));
    }
#ifndef _WIN32
    // Private from the moment it exists, whatever the umask: a second
    // thread looking at each new folder as it appears never sees it open.
    private_work_folder tmp;
    const std::string tmpdir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", tmp.path().c_str(), 1);
    const mode_t umask_was = umask(0);
    std::atomic<bool> done{false};
    std::atomic<int> seen_open{0};
    std::thread watch([&] {
        while (!done) {
            std::error_code ec;
            for (std::filesystem::directory_iterator it(tmp.path(), ec), end; !ec && it != end; it.increment(ec)) {
                struct stat st {};
                if (lstat(it->path().c_str(), &st) == 0 && (st.st_mode & 077) != 0) ++seen_open;
            }
        }
    });
    for (int i = 0; i < 300; ++i) private_work_folder w;
    done = true;
    watch.join();
    umask(umask_was);
    tmpdir.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", tmpdir.c_str(), 1);
    EXPECT_EQ(seen_open, 0);
#endif
}
