// Every job against a writer that fails it: one table of faults at a reply
// (silence, AC AC, a garbled echo, a corrupted page, a late reply, the line
// lost) or a Disconnect pressed under way, each with the status the job must
// end with; a few a job survives (one verify mismatch, a reply inside the
// watchdog). However it ends, it ends whole: port closed, work file closed,
// pictures back at rest, nothing sent on the closed port; a failed save
// leaves the chosen file as it was and the memories in the writer.
#include <gtest/gtest.h>

#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "rom_data/image_jobs.hpp"
#include "service/look.hpp"
#include "service/write_count.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault;
using writer_sim::fault_kind;

namespace {

enum class job { erase, save, transmit, rom_transmit, direct_write, version_up, write_count, block_erase };

const std::string chosen_before = "the file the operator chose\r\n";

struct job_rig : unit_rig {
    std::string image = random_bytes(0x3000, 9);

    explicit job_rig(job j) {
        switch (j) {
        case job::save:
            choose(chosen_before);
            break;
        case job::transmit:
            choose(memories());
            clear_writer();
            break;
        case job::rom_transmit:
        case job::direct_write:
            choose_path(rom_file(image, "image"));
            break;
        case job::version_up: {
            std::string program = random_bytes(0x1800, 5);
            std::copy(protocol::writer_program_id.begin(), protocol::writer_program_id.end(), program.begin() + 0x84);
            choose_path(rom_file(program, "writer"));
            break;
        }
        case job::block_erase:  // M32R blocks, on a port the engineer opened
            Option1_Click(*form);
            command1_Click(*form);
            break;
        case job::erase:
        case job::write_count:
            break;
        }
    }
    void press(job j) {
        constexpr void (*buttons[])(main_form&) = {allunlock_erase_Click, ramdata_get_Click,   ramdata_store_Click,
                                                   flashall_write_Click,  unit_3mode_Click,    writer_versionup_Click,
                                                   write_count_Click,     block_erase_Click};
        buttons[static_cast<int>(j)](*form);
    }
    // How far the writer got before the job ended, as the rows count it:
    // full erases; blocks erased by a save or a block erase; whether a
    // transmit erased the memories blocks; target writes.
    int reached(job j) const {
        switch (j) {
        case job::erase: return sim.erase_all_count;
        case job::save:
        case job::block_erase: return static_cast<int>(sim.erased_blocks.size());
        case job::transmit: return sim.erased_blocks.empty() ? 0 : 1;
        case job::direct_write: return sim.target_writes;
        default: return 0;
        }
    }
};

struct fault_case {
    const char* name;
    job j;
    std::vector<fault> faults;
    const char* status;
    int reached = 0;
    int verify_retries = 0;
    bool (*disconnect_when)(const main_form&) = nullptr;  // Disconnect pressed once it holds
    const char* holds = "";  // what the note says the writer holds now
};

// The version and CPU pages as the memory-full check reads them.
std::vector<fault> unit_pages(std::vector<std::uint8_t> version, std::vector<std::uint8_t> cpu) {
    return {page_reply("000A00", std::move(version)), page_reply("000000", std::move(cpu))};
}

bool between_erase_phases(const main_form& f) { return f.job_phase == 12; }
bool before_the_image(const main_form& f) { return f.job_phase == 3 && f.engine_step == 0; }
bool mid_page_of_the_read(const main_form& f) { return f.engine_step == 132 && f.address_frame[2] == 40; }

bool complete(const std::string& status) {
    return status.size() > 8 && status.compare(status.size() - 8, 8, "COMPLETE") == 0;
}

}  // namespace

class JobFaults : public ::testing::TestWithParam<fault_case> {};

TEST_P(JobFaults, EndTheJobThroughTheAbort) {
    const fault_case& c = GetParam();
    job_rig r(c.j);
    for (const fault& x : c.faults) r.sim.add_fault(x);
    r.press(c.j);
    if (c.disconnect_when) {
        ASSERT_TRUE(r.run_until([&] { return c.disconnect_when(*r.form); }, 60'000'000));
        Command3_Click(*r.form);
    }
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, c.status);
    // Beside the status: what happened, to what (the port, the exchange).
    if (!complete(c.status) && c.faults.size() == 1) {
        const fault_kind k = c.faults[0].kind;
        const char* said = k == fault_kind::no_reply    ? "nothing came back from the writer on COM1 within 11 s in "
                           : k == fault_kind::ac_ac     ? "the writer on COM1 refused "
                           : k == fault_kind::drop_line ? "the line to COM1 was lost"
                                                        : "COM1";
        EXPECT_NE(r.form->detail.find(said), std::string::npos) << r.form->detail;
        EXPECT_NE(r.traced.document("t").find(r.form->detail), std::string::npos);
    }
    if (!complete(c.status)) {
        EXPECT_NE(r.form->detail.find(c.holds), std::string::npos) << r.form->detail;
    }
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_EQ(r.form->Combo1.caption, "commimucation stop");
    EXPECT_EQ(r.form->job_no, 0);
    EXPECT_EQ(r.form->engine_step, 0);
    EXPECT_TRUE(busy_pictures_reset(*r.form));
    EXPECT_FALSE(r.files.is_open(1));
    EXPECT_EQ(r.port.sends_on_closed_port, 0);
    EXPECT_EQ(r.reached(c.j), c.reached);
    if (complete(c.status)) {
        EXPECT_EQ(r.form->verify_retries, c.verify_retries);
    }
    switch (c.j) {
    case job::save:
        if (complete(c.status) || std::string(c.holds).find("holds the saved memories") != std::string::npos) {
            EXPECT_TRUE(read_file(r.path) == r.memories());
        } else {
            EXPECT_TRUE(read_file(r.path) == chosen_before);
            EXPECT_TRUE(r.writer_holds_memories());
        }
        EXPECT_EQ(r.files_in_folder(), 1u);
        break;
    case job::transmit:
        if (complete(c.status)) {
            EXPECT_TRUE(r.writer_holds_memories());
            EXPECT_EQ(r.sim.pages_written, 130);
        }
        break;
    case job::rom_transmit:
        if (complete(c.status)) {
            EXPECT_TRUE(store_equals(r.sim, 0x20000, r.image));
        }
        break;
    default:
        break;
    }
}

const fault_case rows[] = {
    // ERASE ALL FLASH
    {"erase_id_refused", job::erase, {refused("done:F5")}, "INSTALLER ERROR"},
    {"erase_echo_wrong", job::erase, {garbled("echo:A7")}, "COMMUNICATION ERROR"},
    {"erase_echo_silent", job::erase, {silent("echo:A7")}, "COMMUNICATION ERROR"},
    // The watchdog: 2933 ticks of 4 ms (the writer's 751 of 15.625 ms) for a
    // step that stands, so an erase may take 11 s but not 12.
    {"erase_takes_11_s", job::erase, {late("done:A7", 11'000'000)}, "ALL FLASH ERASE COMPLETE", 1},
    {"erase_takes_12_s", job::erase, {late("done:A7", 12'000'000)}, "COMMUNICATION ERROR", 1},
    {"erase_one_byte_then_nothing", job::erase, {{"echo:F5", 1, fault_kind::replace, {0xF5}}}, "COMMUNICATION ERROR"},
    {"erase_echo_split", job::erase, {{"echo:A7", 1, fault_kind::split}}, "ALL FLASH ERASE COMPLETE", 1},
    {"erase_installer", job::erase, {refused("done:A7")}, "INSTALLER ERROR", 1},
    {"erase_garbage", job::erase, {garbled("done:A7")}, "COMMUNICATION ERROR", 1},
    {"erase_silent", job::erase, {silent("done:A7")}, "COMMUNICATION ERROR", 1},
    {"erase_long_reply", job::erase, {{"done:A7", 1, fault_kind::extra_bytes}}, "ALL FLASH ERASE COMPLETE", 1},
    {"erase_line_drops", job::erase, {line_drops("done:A7")}, "COMMUNICATION ERROR", 1, 0, nullptr, "its flash may be partly erased"},
    {"erase_disconnect_between_phases", job::erase, {}, "COMMUNICATION ERROR", 0, 0, between_erase_phases},
    // SAVE MEMORIES TO FILE, up to the verify
    {"save_id_silent", job::save, {silent("echo:F5")}, "COMMUNICATION ERROR", 0, 0, nullptr, "nothing was erased: the writer is as it was, and "},
    {"save_id_refused", job::save, {refused("done:F5")}, "INSTALLER ERROR"},
    {"save_installer_mode", job::save, {page_reply("000600", {0x00})}, "INSTALLER MODE ERROR"},
    {"save_no_machine_version", job::save, {page_reply("000A00", {0xFF, 0xFF})}, "NO MEMORY ERROR"},
    {"save_cpu_page_blank", job::save, {page_reply("000000", {0xFF, 0xFF})}, "NO MEMORY ERROR"},
    {"save_cpu_page_swapped", job::save, {page_reply("000000", {0x6C, 0x01})}, "INSTALLER ERROR"},
    {"save_read_echo_wrong", job::save, {garbled("echo:FF", 9)}, "COMMUNICATION ERROR"},
    {"save_read_address_refused", job::save, {refused("addr:FF", 9)}, "INSTALLER ERROR"},
    {"save_page_never_comes", job::save, {silent("page:010300")}, "COMMUNICATION ERROR", 0, 0, nullptr, "the writer is as it was, and "},
    {"save_page_truncated", job::save, {{"page:010300", 1, fault_kind::truncated_page}}, "COMMUNICATION ERROR"},
    {"save_line_drops_mid_read", job::save, {line_drops("page:010500")}, "COMMUNICATION ERROR"},
    {"save_disconnect_mid_page", job::save, {}, "COMMUNICATION ERROR", 0, 0, mid_page_of_the_read},
    {"save_verify_echo_wrong", job::save, {garbled("echo:FF", 135)}, "COMMUNICATION ERROR"},
    {"save_verify_mismatch_twice", job::save, {corrupted("page:010500", 2), corrupted("page:017F00", 2)},
      "VERIFY ERROR"},
    {"save_read_corrupted", job::save, {corrupted("page:010500")}, "VERIFY ERROR"},
    {"save_verify_mismatch_once", job::save, {corrupted("page:010500", 2)}, "SAVE MEMORIES TO FILE COMPLETE", 2, 1},
    // After the commit: the chosen file holds the unit, the writer may not
    {"save_erase_refused", job::save, {refused("done:20")}, "INSTALLER ERROR", 1, 0, nullptr, "holds the saved memories, verified against the writer; of the writer's memories area ブロック２ may be partly erased: ERASE ALL FLASH before"},
    {"save_erase_silent", job::save, {silent("done:20", 2)}, "COMMUNICATION ERROR", 2, 0, nullptr, "holds the saved memories, verified against the writer; of the writer's memories area ブロック２ was erased and ブロック３ may be partly erased"},
    // TRANSMIT MEMORIES; the memory-full check runs only without FF in
    // the version page and with a CPU page of a unit
    {"transmit_id_wrong_echo", job::transmit, {garbled("echo:F5")}, "COMMUNICATION ERROR", 0, 0, nullptr, "the writer is as it was"},
    {"transmit_installer_mode", job::transmit, {page_reply("000600", {0x12})}, "INSTALLER MODE ERROR"},
    {"transmit_memory_full", job::transmit, unit_pages({0x41, 0x42}, {0x01, 0x6C}), "FULL MEMORY ERROR"},
    // (the CPU page is not read then: its fault strikes in the verify)
    {"transmit_version_page_with_ff", job::transmit, unit_pages({0x41, 0xFF}, {0x01, 0x6C}),
      "TRANSMIT MEMORIES COMPLETE", 1, 1},
    {"transmit_cpu_page_half_blank", job::transmit, unit_pages({0x41, 0x42}, {0x03, 0xFF}),
      "TRANSMIT MEMORIES COMPLETE", 1},
    {"transmit_cpu_page_blank", job::transmit, unit_pages({0x41, 0x42}, {0xFF, 0xFF}), "TRANSMIT MEMORIES COMPLETE", 1},
    {"transmit_version_check_refused", job::transmit, {refused("addr:FF", 2)}, "INSTALLER ERROR"},
    {"transmit_erase_wrong_echo", job::transmit, {garbled("echo:20")}, "COMMUNICATION ERROR"},
    {"transmit_write_never_ready", job::transmit, {garbled("echo:41", 3)}, "COMMUNICATION ERROR", 1},
    {"transmit_page_refused", job::transmit, {refused("done:41", 50)}, "INSTALLER ERROR", 1, 0, nullptr, "holds the first 49 of the 130 pages of"},
    {"transmit_page_garbled", job::transmit, {garbled("done:41", 5)}, "COMMUNICATION ERROR", 1},
    {"transmit_page_silent", job::transmit, {silent("done:41", 129)}, "COMMUNICATION ERROR", 1, 0, nullptr, "holds the first 128 of the 130 pages of"},
    {"transmit_line_drops_mid_page", job::transmit, {line_drops("done:41", 40)}, "COMMUNICATION ERROR", 1},
    {"transmit_verify_mismatch_once", job::transmit, {corrupted("page:010700")}, "TRANSMIT MEMORIES COMPLETE", 1, 1},
    {"transmit_verify_mismatch_twice", job::transmit, {corrupted("page:010700"), corrupted("page:010700", 2)},
      "VERIFY ERROR", 1, 0, nullptr, "all 130 pages of"},
    {"transmit_verify_address_refused", job::transmit, {refused("addr:FF", 4)}, "INSTALLER ERROR", 1},
    {"transmit_cpu_check_refused", job::transmit, {refused("done:75")}, "INSTALLER ERROR", 1},
    // TRANSMIT ROM DATA
    {"rom_verify_mismatch_once", job::rom_transmit, {corrupted("page:021000")}, "ROM DATA TRANSMIT COMPLETE", 0, 1},
    // The pages of the file are counted, the three control pages apart
    {"rom_page_refused", job::rom_transmit, {refused("done:41", 5)}, "INSTALLER ERROR", 0, 0, nullptr, "were erased and it holds the first 1 of the 48 pages of "},
    {"rom_control_page_refused", job::rom_transmit, {refused("done:41", 2)}, "INSTALLER ERROR", 0, 0, nullptr, "were being written (CPU code, blocks, ID code, write-count limit), none of the pages of "},
    // TARGET DIRECT WRITE
    {"direct_id_refused", job::direct_write, {refused("done:F5")}, "INSTALLER ERROR"},
    {"direct_erase_silent", job::direct_write, {silent("done:20", 3)}, "COMMUNICATION ERROR"},
    {"direct_disconnect_before_the_image", job::direct_write, {}, "COMMUNICATION ERROR", 0, 0, before_the_image},
    {"direct_write_ready_wrong", job::direct_write, {garbled("echo:41", 2)}, "COMMUNICATION ERROR"},
    {"direct_page_refused", job::direct_write, {refused("done:41", 6)}, "INSTALLER ERROR", 0, 0, nullptr, "holds the first 2 of the 48 pages of"},
    {"direct_line_drops", job::direct_write, {line_drops("done:41", 8)}, "COMMUNICATION ERROR"},
    {"direct_verify_echo_wrong", job::direct_write, {garbled("echo:FF")}, "COMMIMUCATION ERROR"},
    {"direct_verify_mismatch_twice", job::direct_write, {corrupted("page:021000"), corrupted("page:021000", 2)},
      "VERIFY ERROR"},
    {"direct_target_write_echo_wrong", job::direct_write, {garbled("echo:C5")}, "COMMUNICATION ERROR"},
    {"direct_target_write_refused", job::direct_write, {refused("done:C5")}, "TARGET WRITE ERROR", 1},
    // ROM WRITER VERSION UP
    {"version_up_id_silent", job::version_up, {silent("echo:F5")}, "COMMUNICATION ERROR"},
    {"version_up_disable_refused", job::version_up, {refused("done:75")}, "ROCK BIT INVALIDITY ERROR"},
    {"version_up_page_garbled", job::version_up, {garbled("done:41", 3)}, "COMMUNICATION ERROR"},
    {"version_up_verify_mismatch_twice", job::version_up, {corrupted("page:000100"), corrupted("page:000100", 2)},
      "VERIFY ERROR"},
    {"version_up_enable_refused", job::version_up, {refused("done:7A")}, "ROCK BIT VALIDITY ERROR"},
    {"version_up_line_drops", job::version_up, {line_drops("done:41", 2)}, "COMMUNICATION ERROR"},
    // WRITE COUNT: each count is read twice and must agree
    {"count_echo_wrong", job::write_count, {garbled("echo:FF", 3)}, "COMMUNICATION ERROR"},
    {"count_words_disagree", job::write_count, {page_reply("000400", {0x00, 0x01}, 2)}, "COMMUNICATION ERROR"},
    {"count_unary_disagrees", job::write_count, {page_reply("000700", {0x7F}, 2)}, "COMMUNICATION ERROR"},
    {"count_page_short", job::write_count, {{"page:000700", 1, fault_kind::truncated_page}}, "COMMUNICATION ERROR"},
    // BLOCK ERASE (the writer did the second block before it refused)
    {"block_erase_second_refused", job::block_erase, {refused("done:20", 2)}, "INSTALLER ERROR", 2, 0, nullptr, "ブロック２ was erased and ブロック３ may be partly erased"},
    {"block_erase_echo_wrong", job::block_erase, {garbled("echo:20")}, "COMMUNICATION ERROR"},
};

INSTANTIATE_TEST_SUITE_P(Replies, JobFaults, ::testing::ValuesIn(rows),
                         [](const auto& p) { return std::string(p.param.name); });

// A save stopped from outside while the writer sends it a page: the writer
// goes on sending, and this one never drops a half-received frame. The next
// jobs throw away what comes before their first command and run whole.
TEST(StoppedMidPage, TheNextJobsStartOnAQuietLine) {
    const struct {
        job next;
        const char* status;
    } cases[] = {{job::save, "SAVE MEMORIES TO FILE COMPLETE"}, {job::erase, "ALL FLASH ERASE COMPLETE"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        job_rig r(job::save);
        r.sim.frame_pause_us = 0;
        r.press(job::save);
        ASSERT_TRUE(r.run_until([&] { return mid_page_of_the_read(*r.form); }, 60'000'000));
        const int pages_read = r.sim.pages_read;
        abort_sequence(*r.form, outcome::interrupted, "INTERRUPTED", file1::close);
        settle_operation(*r.form);
        EXPECT_NE(r.form->detail.find("the writer is as it was, and "), std::string::npos) << r.form->detail;
        for (const job next : {c.next, job::erase}) {
            r.press(next);
            ASSERT_TRUE(r.run_job());
            EXPECT_EQ(r.form->Label9.caption, next == c.next ? c.status : "ALL FLASH ERASE COMPLETE") << r.form->detail;
            EXPECT_EQ(r.sim.frames_dropped, 0);
        }
        // The erase's first phase waited for the quiet line, off the
        // sequencer's grid: its erase command still comes a phase after.
        std::uint64_t id_check = 0, erase = 0;
        for (const auto& frame : r.line.log)
            if (frame.to_writer && frame.bytes.size() == 2 && frame.time_us > 0) {
                if (frame.bytes[0] == 0xF5) id_check = frame.time_us;
                if (frame.bytes[0] == 0xA7) erase = frame.time_us;
            }
        EXPECT_GE(erase - id_check, 500'000u);
        // The rest of the page came after the port opened, and went no further.
        EXPECT_NE(r.traced.document("t").find("bytes came before the job's first command"), std::string::npos);
        EXPECT_GT(r.sim.pages_read, pages_read);
        if (c.next == job::save) {
            EXPECT_TRUE(read_file(r.path) == r.memories());
        }
    }
}

// A transmit the writer refused at its 50th page leaves part of the unit.
// The next transmit writes nothing over it and names the way out; a
// compare shows the pages missing; the ways out the notes name bring the
// whole unit back.
TEST(TransmitStoppedPartway, IsFinishedTheWayTheNotesSay) {
    job_rig r(job::transmit);
    r.sim.add_fault(refused("done:41", 50));
    r.press(job::transmit);
    ASSERT_TRUE(r.run_job());
    ASSERT_EQ(r.form->Label9.caption, "INSTALLER ERROR");
    ASSERT_FALSE(r.writer_holds_memories());

    const int pages_before = r.sim.pages_written;
    r.press(job::transmit);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "FULL MEMORY ERROR");
    EXPECT_EQ(r.sim.pages_written, pages_before);
    for (const std::string& said : {std::string("a transmit that stopped partway"), "compare " + r.path,
                                   "ERASE ALL FLASH, then TRANSMIT MEMORIES of " + r.path})
        EXPECT_NE(r.form->detail.find(said), std::string::npos) << r.form->detail;

    start_memories_compare(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "COMPARE MEMORIES DIFFERENT");
    EXPECT_FALSE(r.form->look.differences.empty());

    // This writer keeps its machine version page through ERASE ALL FLASH,
    // so the second way out is the one that brings the unit back.
    r.press(job::erase);
    ASSERT_TRUE(r.run_job());
    ASSERT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
    r.press(job::transmit);
    ASSERT_TRUE(r.run_job());
    ASSERT_EQ(r.form->Label9.caption, "FULL MEMORY ERROR");
    r.choose_path(r.dir.file("the-part.dat"));
    r.press(job::save);
    ASSERT_TRUE(r.run_job());
    ASSERT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE") << r.form->detail;
    r.choose_path(r.path);
    r.press(job::transmit);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "TRANSMIT MEMORIES COMPLETE") << r.form->detail;
    EXPECT_TRUE(r.writer_holds_memories());
}
