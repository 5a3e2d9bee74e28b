// The writer write counts, the target direct write (job 5) and the writer
// version up (job 1) against the simulated writer, with fault tables.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/writer_id.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "service/write_count.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault;
using writer_sim::fault_kind;

// ---- write counts -----------------------------------------------------------

struct unary_case {
    std::vector<std::uint8_t> head;
    int count;
};

class UnaryCount : public ::testing::TestWithParam<unary_case> {};

TEST_P(UnaryCount, Decodes) {
    std::vector<std::uint8_t> page = GetParam().head;
    page.resize(256, 0xFF);
    EXPECT_EQ(decode_unary_count(page), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, UnaryCount,
    ::testing::Values(unary_case{{}, 0}, unary_case{{0xFE}, 1}, unary_case{{0x7F}, 1}, unary_case{{0x7E}, 2},
                      unary_case{{0x3F}, 2}, unary_case{{0x3E}, 3}, unary_case{{0x1F}, 3}, unary_case{{0x1E}, 4},
                      unary_case{{0x0F}, 4}, unary_case{{0x0E}, 5}, unary_case{{0x07}, 5}, unary_case{{0x06}, 6},
                      unary_case{{0x03}, 6}, unary_case{{0x02}, 7},
                      unary_case{{0x01}, 7}, unary_case{{0x00, 0x00, 0x1F}, 19},
                      unary_case{{0x00, 0x00, 0x3F, 0xFF}, 18},
                      unary_case{std::vector<std::uint8_t>(256, 0x00), 2048}));

TEST(CountWords, ErasedAndClampedBytes) {
    const std::uint8_t erased[4] = {0xFF, 0xFF, 0xFF, 0x10};
    auto w = decode_count_words(erased);
    EXPECT_EQ(w.first, 0);
    EXPECT_EQ(w.second, 100 * 256 + 16);
    const std::uint8_t big[4] = {0xC8, 0x05, 0x00, 0x07};
    w = decode_count_words(big);
    EXPECT_EQ(w.first, 25600 + 5);
    EXPECT_EQ(w.shown[0], 100);
    EXPECT_EQ(w.second, 7);
}

namespace {

void put(writer_sim::writer& w, std::uint32_t at, std::vector<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), w.store.begin() + at);
}

bool run_step(writer_sim::rig& r) {
    return r.run_until([&] { return r.form->engine_step == 0; }, 20'000'000);
}

}  // namespace

// The counts as the writer keeps them: two words at 0400, a unary count at
// 0700 (bits cleared one by one), each page read twice.
TEST(WriteCount, WordsAndUnaryCount) {
    writer_sim::rig r;
    write_count_Click(*r.form);  // opens the port itself
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"WRITE COUNT CHECK|WRITE COUNT CHECK ?"}));
    ASSERT_TRUE(run_step(r));
    EXPECT_EQ(r.form->Label9.caption, "ライタ書き込み回数読込ＯＫ");
    EXPECT_EQ(r.form->Label6.caption + "/" + r.form->Label7.caption, "0/0");  // a fresh writer
    EXPECT_EQ(r.form->job_phase, 12);
    EXPECT_EQ(r.sim.read_pages, (std::vector<std::uint32_t>{0x400, 0x400, 0x700, 0x700}));
    put(r.sim, 0x400, {0x00, 0x05, 0x01, 0x02});
    put(r.sim, 0x700, {0x00, 0x00, 0x3F, 0xFF});
    write_count_Click(*r.form);
    ASSERT_TRUE(run_step(r));
    EXPECT_EQ(r.form->Label6.caption + "/" + r.form->Label7.caption, "5/276");
    EXPECT_EQ(r.form->Label17.caption, "0");  // page 0700 bytes as read, last pass
    EXPECT_EQ(r.form->Label19.caption, "63");
}

// ---- target direct write -----------------------------------------------------

namespace {

// A ROM data file of `size` random bytes chosen.
struct job_rig : unit_rig {
    std::string image;
    explicit job_rig(std::size_t size = 0x3000, unsigned seed = 9) : image(random_bytes(size, seed)) {
        choose_path(rom_file(image, "image"));
    }
};

}  // namespace

TEST(TargetDirectWrite, EndToEnd) {
    job_rig r;
    r.sim.target_write_delay_us = 9'000'000;  // beyond the watchdog's reach
    unit_3mode_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"TARGET DIRECT WRITE CHECK|TARGET DIRECT WRITE?"}));
    ASSERT_TRUE(r.run_job(600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "TARGET DIRECT WRITE COMPLETE");
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_EQ(r.sim.target_writes, 1);
    EXPECT_TRUE(store_equals(r.sim, 0x20000, r.image));
    // The erase took the blocks of Check3 and Check5..Check9 and left the ticks.
    EXPECT_EQ(r.sim.erased_blocks, (std::vector<int>{0, 2, 3, 4, 5, 6}));
    EXPECT_EQ(r.form->Check4.value, 0);
    EXPECT_EQ(r.form->Check9.value, 1);
    // The job does not read the write counts.
    for (std::uint32_t a : r.sim.read_pages) {
        EXPECT_NE(a, 0x400u);
        EXPECT_NE(a, 0x700u);
    }
    const std::vector<std::string> tail = {"TARGET WRITE NOW!", "TARGET DIRECT WRITE COMPLETE"};
    ASSERT_GE(r.status_history().size(), 2u);
    EXPECT_EQ(std::vector<std::string>(r.status_history().end() - 2, r.status_history().end()), tail);
    EXPECT_EQ(r.status_history().front(), "TARGET DIRECT WRITE START");

    // The target write went into the writer's counters.
    write_count_Click(*r.form);
    ASSERT_TRUE(run_step(r));
    EXPECT_EQ(r.form->Label6.caption, "1");
    EXPECT_EQ(r.form->Label7.caption, "1");
}

// ---- writer version up ---------------------------------------------------------

namespace {

// A writer program: the writer program ID at 000084.
std::string writer_program(std::size_t size) {
    std::string p = random_bytes(size, 3);
    std::copy(protocol::writer_program_id.begin(), protocol::writer_program_id.end(), p.begin() + 0x84);
    return p;
}

// What an operator does after the version up, button by button; each entry
// is the status the operation ended with and the store it left.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> operations_after(job_rig& r) {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> seen;
    auto note = [&] { seen.emplace_back(r.form->Label9.caption, std::vector<std::uint8_t>(r.sim.store.begin(), r.sim.store.end())); };
    const std::string rom = r.dir.file("image.mot"), saved = r.dir.file("saved.dat");
    auto choose = [&](const std::string& p) {
        r.dlg.files.push_back(p);
        file_select_Click(*r.form);
    };
    // The writer program switch is still ticked: the write finds no page,
    // sends nothing and says so.
    EXPECT_EQ(r.form->Check10.value, 1);
    choose(rom);
    command1_Click(*r.form);
    const std::size_t frames_before = r.line.log.size();
    write_Click(*r.form);
    EXPECT_TRUE(run_step(r));
    verify_Click(*r.form);
    EXPECT_TRUE(run_step(r));
    EXPECT_EQ(r.line.log.size(), frames_before);
    Command3_Click(*r.form);
    note();
    const struct {
        const std::string* file;  // chosen first, when there is one
        void (*click)(main_form&);
    } jobs[] = {{&saved, ramdata_get_Click},
                {nullptr, allunlock_erase_Click},
                {&saved, ramdata_store_Click},
                {&rom, flashall_write_Click},
                {nullptr, unit_3mode_Click}};
    for (const auto& job : jobs) {
        if (job.file) choose(*job.file);
        job.click(*r.form);
        EXPECT_TRUE(r.run_job(600'000'000));
        note();
    }
    return seen;
}

}  // namespace

TEST(WriterVersionUp, ProgramMemoryOnlyAndTheWriterWorksAfterwards) {
    job_rig r;  // a unit's memories in the store
    const auto store_before = r.sim.store;
    const std::string program = writer_program(0x2400);
    r.choose_path(r.rom_file(program, "writer"));
    writer_versionup_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"ROM WRITER VERSION UP CHECK|ROM WRITER VERSION UP ?"}));
    ASSERT_TRUE(r.run_job(600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ROM WRITER VERSION UP COMPLETE");
    EXPECT_EQ(r.status_history().front(), "ROM WRITER VERSION UP START");
    EXPECT_FALSE(r.port.PortOpen());
    // Into the writer's program memory, untranslated; the store untouched.
    EXPECT_TRUE(bytes_at(program, r.sim.program.data()));
    EXPECT_EQ(r.sim.program_pages_written, 0x24);
    EXPECT_TRUE(r.sim.store == store_before);
    EXPECT_TRUE(r.sim.erased_blocks.empty());
    EXPECT_EQ(std::count(r.sim.locked.begin(), r.sim.locked.end(), true), 0);
    // On the line: ID check, lock disable, the pages, their verify, lock
    // enable; every page frame addressed with command byte 0.
    std::vector<std::uint8_t> commands;
    for (const bytes& fr : frames(r)) {
        if (fr.size() == 2 && fr[0] == fr[1] && (commands.empty() || commands.back() != fr[0])) commands.push_back(fr[0]);
        if (fr.size() == 4 && fr[0] != 0xD8) {
            EXPECT_EQ(fr[0], 0x00);
        }
    }
    EXPECT_EQ(commands, (std::vector<std::uint8_t>{0xF5, 0x75, 0xD0, 0x41, 0xFF, 0x7A, 0xD0}));

    // Everything else runs as on a writer that never saw the version up.
    job_rig fresh;
    fresh.form->Check10.value = 1;
    Check10_Click(*fresh.form);
    const auto after = operations_after(r);
    const auto never = operations_after(fresh);
    ASSERT_EQ(after.size(), never.size());
    const char* const statuses[] = {"NO PAGE ERROR", "SAVE MEMORIES TO FILE COMPLETE", "ALL FLASH ERASE COMPLETE",
                                    "TRANSMIT MEMORIES COMPLETE", "ROM DATA TRANSMIT COMPLETE",
                                    "TARGET DIRECT WRITE COMPLETE"};
    for (std::size_t k = 0; k < after.size(); ++k) {
        EXPECT_EQ(after[k].first, statuses[k]);
        EXPECT_EQ(after[k].first, never[k].first);
        EXPECT_TRUE(after[k].second == never[k].second) << statuses[k];
    }
}

TEST(WriterVersionUp, TargetImageIsRefusedBeforeAnythingIsSent) {
    job_rig r;  // an ordinary image: its ID is no writer program ID
    writer_versionup_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "WRITER-ID ERROR");
    EXPECT_TRUE(r.line.log.empty());
    EXPECT_FALSE(r.port.PortOpen());
}

// The ID typed as text, compared digit by digit: lower-case digits have
// values above 15, 2A-2F have none, ':' (3A) counts as 15.
TEST(WriterVersionUp, IdCharactersWithoutNibbleFail) {
    writer_sim::rig r;
    std::string good;
    for (std::uint8_t b : protocol::writer_program_id) good += hex(&b, 1);
    ASSERT_EQ(good[17], 'F');
    for (const char c : std::string("Ff*+,-./:")) {
        std::string text = good;
        text[17] = c;
        std::copy(text.begin(), text.end(), r.form->id_code_text.begin());
        EXPECT_EQ(writer_program_id_matches(*r.form), c == 'F' || c == ':') << c;
    }
}

// ---- buttons while a job runs ----------------------------------------------------

struct button_case {
    const char* name;
    void (*click)(main_form&);
};

class ButtonsDuringAJob : public ::testing::TestWithParam<button_case> {};

// Pressed between two phases of ERASE ALL FLASH, a button sends nothing,
// asks nothing, chooses no file, and the job ends as it would have.
TEST_P(ButtonsDuringAJob, DoNothing) {
    job_rig r;
    allunlock_erase_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->job_phase == 12 && r.form->engine_step == 0; }, 10'000'000));
    const std::size_t frames_before = r.line.log.size();
    const std::size_t asked_before = r.box.asked.size();
    const std::string file_before = r.form->memory_file_path;
    r.dlg.files.push_back(r.dir.file("other.dat"));
    GetParam().click(*r.form);
    EXPECT_EQ(r.line.log.size(), frames_before);
    EXPECT_EQ(r.box.asked.size(), asked_before);
    EXPECT_EQ(r.dlg.files.size(), 1u);
    EXPECT_EQ(r.form->memory_file_path, file_before);
    EXPECT_EQ(r.form->engine_step, 0);
    EXPECT_EQ(r.form->job_phase, 12);
    ASSERT_TRUE(r.run_job(30'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
    EXPECT_FALSE(r.port.PortOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, ButtonsDuringAJob,
    ::testing::Values(button_case{"block_erase", block_erase_Click}, button_case{"rockbit_read", rockbit_read_Click},
                      button_case{"rockbit_set", rockbit_set_Click}, button_case{"rockbit_on", rockbit_on_Click},
                      button_case{"rockbit_non", rockbit_non_Click}, button_case{"id_check", id_check_Click},
                      button_case{"swon_en", swon_en_Click}, button_case{"target_write", target_write_Click},
                      button_case{"write_count", write_count_Click}, button_case{"write", write_Click},
                      button_case{"verify", verify_Click}, button_case{"file_select", file_select_Click},
                      button_case{"allunlock_erase", allunlock_erase_Click},
                      button_case{"ramdata_get", ramdata_get_Click}, button_case{"ramdata_store", ramdata_store_Click},
                      button_case{"flashall_write", flashall_write_Click},
                      button_case{"flashblock_write", flashblock_write_Click},
                      button_case{"unit_3mode", unit_3mode_Click},
                      button_case{"writer_versionup", writer_versionup_Click}),
    [](const auto& p) { return std::string(p.param.name); });
