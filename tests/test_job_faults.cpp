// Every job against a writer that fails it: one table of faults at a reply
// (silence, AC AC, a garbled echo, a corrupted page, the line lost) or a
// Disconnect pressed under way, each with the status the job must end with.
// Whatever the fault, the job ends through the abort: port closed, work
// file closed, pictures back at rest, nothing sent on the closed port; a
// save leaves the chosen file as it was and the memories in the writer.
#include <gtest/gtest.h>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "rom_data/image_jobs.hpp"
#include "service/write_count.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault;
using writer_sim::fault_kind;

namespace {

enum class job { erase, save, transmit, rom_transmit, direct_write, version_up, write_count };

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
        case job::erase:
        case job::write_count:
            break;
        }
    }
    void press(job j) {
        constexpr void (*buttons[])(main_form&) = {allunlock_erase_Click, ramdata_get_Click,   ramdata_store_Click,
                                                   flashall_write_Click,  unit_3mode_Click,    writer_versionup_Click,
                                                   write_count_Click};
        buttons[static_cast<int>(j)](*form);
    }
    // How far the writer got before the job ended, as the rows count it:
    // full erases; memories blocks erased by a save; whether a transmit
    // erased the memories blocks; target writes.
    int reached(job j) const {
        switch (j) {
        case job::erase: return sim.erase_all_count;
        case job::save: return static_cast<int>(sim.erased_blocks.size());
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
};

fault page_reply(const char* page, std::vector<std::uint8_t> head, int occurrence = 1) {
    head.resize(256, 0xFF);
    return {std::string("page:") + page, occurrence, fault_kind::replace, head};
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
        if (complete(c.status)) {
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
            EXPECT_TRUE(std::equal(r.image.begin(), r.image.end(), r.sim.store.begin() + 0x20000,
                                   [](char a, std::uint8_t b) { return std::uint8_t(a) == b; }));
        }
        break;
    default:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, JobFaults,
    ::testing::Values(
        // ERASE ALL FLASH
        fault_case{"erase_id_refused", job::erase, {{"done:F5", 1, fault_kind::ac_ac}}, "INSTALLER ERROR"},
        fault_case{"erase_echo_wrong", job::erase, {{"echo:A7", 1, fault_kind::wrong_echo}}, "COMMUNICATION ERROR"},
        fault_case{"erase_echo_silent", job::erase, {{"echo:A7", 1, fault_kind::no_reply}}, "COMMUNICATION ERROR"},
        fault_case{"erase_echo_split", job::erase, {{"echo:A7", 1, fault_kind::split}}, "ALL FLASH ERASE COMPLETE", 1},
        fault_case{"erase_installer", job::erase, {{"done:A7", 1, fault_kind::ac_ac}}, "INSTALLER ERROR", 1},
        fault_case{"erase_garbage", job::erase, {{"done:A7", 1, fault_kind::wrong_echo}}, "COMMUNICATION ERROR", 1},
        fault_case{"erase_silent", job::erase, {{"done:A7", 1, fault_kind::no_reply}}, "COMMUNICATION ERROR", 1},
        fault_case{"erase_long_reply", job::erase, {{"done:A7", 1, fault_kind::extra_bytes}}, "ALL FLASH ERASE COMPLETE",
                   1},
        fault_case{"erase_line_drops", job::erase, {{"done:A7", 1, fault_kind::drop_line}}, "COMMUNICATION ERROR", 1},
        fault_case{"erase_disconnect_between_phases", job::erase, {}, "COMMUNICATION ERROR", 0, 0,
                   between_erase_phases},
        // SAVE MEMORIES TO FILE, up to the verify
        fault_case{"save_id_silent", job::save, {{"echo:F5", 1, fault_kind::no_reply}}, "COMMUNICATION ERROR"},
        fault_case{"save_id_refused", job::save, {{"done:F5", 1, fault_kind::ac_ac}}, "INSTALLER ERROR"},
        fault_case{"save_installer_mode", job::save, {page_reply("000600", {0x00})}, "INSTALLER MODE ERROR"},
        fault_case{"save_no_machine_version", job::save, {page_reply("000A00", {0xFF, 0xFF})}, "NO MEMORY ERROR"},
        fault_case{"save_cpu_page_blank", job::save, {page_reply("000000", {0xFF, 0xFF})}, "NO MEMORY ERROR"},
        fault_case{"save_cpu_page_swapped", job::save, {page_reply("000000", {0x6C, 0x01})}, "INSTALLER ERROR"},
        fault_case{"save_read_echo_wrong", job::save, {{"echo:FF", 9, fault_kind::wrong_echo}}, "COMMUNICATION ERROR"},
        fault_case{"save_read_address_refused", job::save, {{"addr:FF", 9, fault_kind::ac_ac}}, "INSTALLER ERROR"},
        fault_case{"save_page_never_comes", job::save, {{"page:010300", 1, fault_kind::no_reply}},
                   "COMMUNICATION ERROR"},
        fault_case{"save_page_truncated", job::save, {{"page:010300", 1, fault_kind::truncated_page}},
                   "COMMUNICATION ERROR"},
        fault_case{"save_line_drops_mid_read", job::save, {{"page:010500", 1, fault_kind::drop_line}},
                   "COMMUNICATION ERROR"},
        fault_case{"save_disconnect_mid_page", job::save, {}, "COMMUNICATION ERROR", 0, 0, mid_page_of_the_read},
        fault_case{"save_verify_echo_wrong", job::save, {{"echo:FF", 135, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR"},
        fault_case{"save_verify_mismatch_twice", job::save,
                   {{"page:010500", 2, fault_kind::corrupted_page}, {"page:017F00", 2, fault_kind::corrupted_page}},
                   "VERIFY ERROR"},
        fault_case{"save_read_corrupted", job::save, {{"page:010500", 1, fault_kind::corrupted_page}}, "VERIFY ERROR"},
        fault_case{"save_verify_mismatch_once", job::save, {{"page:010500", 2, fault_kind::corrupted_page}},
                   "SAVE MEMORIES TO FILE COMPLETE", 2, 1},
        // TRANSMIT MEMORIES; the memory-full check runs only without FF in
        // the version page and with a CPU page of a unit
        fault_case{"transmit_id_wrong_echo", job::transmit, {{"echo:F5", 1, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR"},
        fault_case{"transmit_installer_mode", job::transmit, {page_reply("000600", {0x12})}, "INSTALLER MODE ERROR"},
        fault_case{"transmit_memory_full", job::transmit,
                   {page_reply("000A00", {0x41, 0x42}), page_reply("000000", {0x01, 0x6C})}, "FULL MEMORY ERROR"},
        // (the CPU page is not read then: its fault strikes in the verify)
        fault_case{"transmit_version_page_with_ff", job::transmit,
                   {page_reply("000A00", {0x41, 0xFF}), page_reply("000000", {0x01, 0x6C})},
                   "TRANSMIT MEMORIES COMPLETE", 1, 1},
        fault_case{"transmit_cpu_page_half_blank", job::transmit,
                   {page_reply("000A00", {0x41, 0x42}), page_reply("000000", {0x03, 0xFF})},
                   "TRANSMIT MEMORIES COMPLETE", 1},
        fault_case{"transmit_cpu_page_blank", job::transmit,
                   {page_reply("000A00", {0x41, 0x42}), page_reply("000000", {0xFF, 0xFF})},
                   "TRANSMIT MEMORIES COMPLETE", 1},
        fault_case{"transmit_version_check_refused", job::transmit, {{"addr:FF", 2, fault_kind::ac_ac}},
                   "INSTALLER ERROR"},
        fault_case{"transmit_erase_wrong_echo", job::transmit, {{"echo:20", 1, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR"},
        fault_case{"transmit_write_never_ready", job::transmit, {{"echo:41", 3, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR", 1},
        fault_case{"transmit_page_refused", job::transmit, {{"done:41", 5, fault_kind::ac_ac}}, "INSTALLER ERROR", 1},
        fault_case{"transmit_page_garbled", job::transmit, {{"done:41", 5, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR", 1},
        fault_case{"transmit_page_silent", job::transmit, {{"done:41", 5, fault_kind::no_reply}},
                   "COMMUNICATION ERROR", 1},
        fault_case{"transmit_line_drops_mid_page", job::transmit, {{"done:41", 40, fault_kind::drop_line}},
                   "COMMUNICATION ERROR", 1},
        fault_case{"transmit_verify_mismatch_once", job::transmit, {{"page:010700", 1, fault_kind::corrupted_page}},
                   "TRANSMIT MEMORIES COMPLETE", 1, 1},
        fault_case{"transmit_verify_mismatch_twice", job::transmit,
                   {{"page:010700", 1, fault_kind::corrupted_page}, {"page:010700", 2, fault_kind::corrupted_page}},
                   "VERIFY ERROR", 1},
        fault_case{"transmit_verify_address_refused", job::transmit, {{"addr:FF", 4, fault_kind::ac_ac}},
                   "INSTALLER ERROR", 1},
        fault_case{"transmit_cpu_check_refused", job::transmit, {{"done:75", 1, fault_kind::ac_ac}}, "INSTALLER ERROR",
                   1},
        // TRANSMIT ROM DATA
        fault_case{"rom_verify_mismatch_once", job::rom_transmit, {{"page:021000", 1, fault_kind::corrupted_page}},
                   "ROM DATA TRANSMIT COMPLETE", 0, 1},
        // TARGET DIRECT WRITE
        fault_case{"direct_id_refused", job::direct_write, {{"done:F5", 1, fault_kind::ac_ac}}, "INSTALLER ERROR"},
        fault_case{"direct_erase_silent", job::direct_write, {{"done:20", 3, fault_kind::no_reply}},
                   "COMMUNICATION ERROR"},
        fault_case{"direct_disconnect_before_the_image", job::direct_write, {}, "COMMUNICATION ERROR", 0, 0,
                   before_the_image},
        fault_case{"direct_write_ready_wrong", job::direct_write, {{"echo:41", 2, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR"},
        fault_case{"direct_page_refused", job::direct_write, {{"done:41", 6, fault_kind::ac_ac}}, "INSTALLER ERROR"},
        fault_case{"direct_line_drops", job::direct_write, {{"done:41", 8, fault_kind::drop_line}},
                   "COMMUNICATION ERROR"},
        fault_case{"direct_verify_echo_wrong", job::direct_write, {{"echo:FF", 1, fault_kind::wrong_echo}},
                   "COMMIMUCATION ERROR"},
        fault_case{"direct_verify_mismatch_twice", job::direct_write,
                   {{"page:021000", 1, fault_kind::corrupted_page}, {"page:021000", 2, fault_kind::corrupted_page}},
                   "VERIFY ERROR"},
        fault_case{"direct_target_write_echo_wrong", job::direct_write, {{"echo:C5", 1, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR"},
        fault_case{"direct_target_write_refused", job::direct_write, {{"done:C5", 1, fault_kind::ac_ac}},
                   "TARGET WRITE ERROR", 1},
        // ROM WRITER VERSION UP
        fault_case{"version_up_id_silent", job::version_up, {{"echo:F5", 1, fault_kind::no_reply}},
                   "COMMUNICATION ERROR"},
        fault_case{"version_up_disable_refused", job::version_up, {{"done:75", 1, fault_kind::ac_ac}},
                   "ROCK BIT INVALIDITY ERROR"},
        fault_case{"version_up_page_garbled", job::version_up, {{"done:41", 3, fault_kind::wrong_echo}},
                   "COMMUNICATION ERROR"},
        fault_case{"version_up_verify_mismatch_twice", job::version_up,
                   {{"page:000100", 1, fault_kind::corrupted_page}, {"page:000100", 2, fault_kind::corrupted_page}},
                   "VERIFY ERROR"},
        fault_case{"version_up_enable_refused", job::version_up, {{"done:7A", 1, fault_kind::ac_ac}},
                   "ROCK BIT VALIDITY ERROR"},
        fault_case{"version_up_line_drops", job::version_up, {{"done:41", 2, fault_kind::drop_line}},
                   "COMMUNICATION ERROR"},
        // WRITE COUNT: each count is read twice and must agree
        fault_case{"count_echo_wrong", job::write_count, {{"echo:FF", 3, fault_kind::wrong_echo}}, "COMMUNICATION ERROR"},
        fault_case{"count_words_disagree", job::write_count, {page_reply("000400", {0x00, 0x01}, 2)},
                   "COMMUNICATION ERROR"},
        fault_case{"count_unary_disagrees", job::write_count, {page_reply("000700", {0x7F}, 2)}, "COMMUNICATION ERROR"},
        fault_case{"count_page_short", job::write_count, {{"page:000700", 1, fault_kind::truncated_page}},
                   "COMMUNICATION ERROR"}),
    [](const auto& p) { return std::string(p.param.name); });
