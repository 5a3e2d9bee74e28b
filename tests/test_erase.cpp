// ERASE ALL FLASH (job 7) and the block erase against the simulated writer.
#include <gtest/gtest.h>

#include <algorithm>

#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "service/lock_bits.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using test_support::bytes;
using writer_sim::fault;
using writer_sim::fault_kind;

namespace {

void fill(writer_sim::writer& w, std::uint8_t v) { w.store.fill(v); }

}  // namespace

TEST(EraseAll, EndToEnd) {
    writer_sim::rig r;
    fill(r.sim, 0x5A);
    allunlock_erase_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"TORVELA|OK TO ERASE ALL FLASH?"}));
    EXPECT_TRUE(r.port.PortOpen());
    EXPECT_EQ(r.form->Combo1.caption, "keep in commimucation");
    EXPECT_EQ(r.form->job_no, 7);

    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.status_history(),
              (std::vector<std::string>{"START TO ERASE ALL FLASH  ", "CHECK WRITER-ID OK",
                                        "ERASE NOW!", "ALL FLASH ERASE COMPLETE"}));
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_EQ(r.form->Combo1.caption, "commimucation stop");
    EXPECT_TRUE(test_support::busy_pictures_reset(*r.form));
    EXPECT_GT(r.driver->ticks_run(2), 0u);

    const auto fr = test_support::frames(r);
    ASSERT_EQ(fr.size(), 4u);
    EXPECT_EQ(fr[0], (bytes{0xF5, 0xF5}));
    const auto& id = protocol::writer_id_code;
    EXPECT_EQ(test_support::hex(fr[1].data(), fr[1].size()), "DFFF07" + test_support::hex(id.data(), id.size()) + "00");
    EXPECT_EQ(fr[2], (bytes{0xA7, 0xA7}));
    EXPECT_EQ(fr[3], (bytes{0xD0, 0xD0}));
    EXPECT_EQ(r.sim.erase_all_count, 1);
    EXPECT_TRUE(test_support::store_all(r.sim, 0x10000, writer_sim::store_size, 0xFF));
    EXPECT_TRUE(test_support::store_all(r.sim, 0, 0x10000, 0x5A));  // the system pages stay
    EXPECT_EQ(r.sim.stray_bytes, 0);

    // Nothing more happens afterwards.
    const std::size_t n = r.line.log.size();
    r.run_for(5'000'000);
    EXPECT_EQ(r.line.log.size(), n);
}

// The job opens the port chosen in the list, or keeps the one the service
// engineer opened, and closes it at the end.
TEST(EraseAll, OnThePortTheOperatorChose) {
    for (const bool opened_before : {false, true}) {
        writer_sim::rig r;
        r.port.present_ports = {4};
        r.form->Combo2.caption = "COM4";
        Combo2_Click(*r.form);
        if (opened_before) command1_Click(*r.form);
        allunlock_erase_Click(*r.form);
        EXPECT_EQ(r.port.comm_port, 4);
        EXPECT_EQ(r.port.opens, 1);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
        EXPECT_FALSE(r.port.PortOpen());
    }
}

// ---- block erase ------------------------------------------------------------

struct block_erase_case {
    const char* name;
    int family;                 // 0 none, 1 M32R, 2 M16C
    std::vector<int> unticked;  // check boxes cleared
    std::vector<int> erased;    // block codes the writer erased
};

class BlockErase : public ::testing::TestWithParam<block_erase_case> {};

TEST_P(BlockErase, ErasesTheChosenBlocks) {
    writer_sim::rig r;
    main_form& f = *r.form;
    if (GetParam().family == 1) Option1_Click(f);
    if (GetParam().family == 2) Option2_Click(f);
    for (int n : GetParam().unticked) f.check(n).value = 0;
    command1_Click(f);
    f.job_phase = 77;
    block_erase_Click(f);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"BLOCK DELITE CHECK|FLASH MEMORIE BLOCK DELITE?"}));
    ASSERT_TRUE(r.run_until([&] { return f.engine_step == 0; }, 30'000'000));
    EXPECT_EQ(r.sim.erased_blocks, GetParam().erased);
    if (GetParam().erased.empty()) {
        EXPECT_TRUE(r.line.log.empty());
        EXPECT_EQ(f.job_phase, 77);
        EXPECT_NE(f.Label9.caption, "BLOCK ERASE OK");
    } else {
        EXPECT_EQ(f.Label9.caption, "BLOCK ERASE OK");
        EXPECT_EQ(f.job_phase, 3);
        EXPECT_EQ(f.Label15.caption, "216");
        EXPECT_EQ(f.Label16.caption, std::to_string(GetParam().erased.back()));
    }
    for (int i = 2; i <= 8; ++i) EXPECT_EQ(f.block_select[static_cast<std::size_t>(i)], 0);
    EXPECT_TRUE(r.port.PortOpen());
    EXPECT_EQ(f.job_no, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, BlockErase,
    ::testing::Values(block_erase_case{"m32r_all", 1, {}, {0, 1, 2, 3, 4, 5, 6}},
                      block_erase_case{"m32r_block2", 1, {1, 2, 4, 5, 6, 7, 8, 9}, {0}},
                      block_erase_case{"m32r_first_two_only", 1, {3, 4, 5, 6, 7, 8, 9}, {}},
                      block_erase_case{"m32r_some", 1, {3, 5, 9}, {1, 3, 4, 5}},
                      block_erase_case{"no_family", 0, {}, {}},
                      block_erase_case{"m16c", 2, {}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

// No in the box of a block erase or a lock bit read still clears the
// block selection, and sends nothing.
TEST(BlockErase, NoClearsTheSelectionsAndSendsNothing) {
    for (void (*click)(main_form&) : {block_erase_Click, rockbit_read_Click}) {
        writer_sim::rig r;
        command1_Click(*r.form);
        r.form->block_select.fill(1);
        r.box.answers = {false};
        click(*r.form);
        EXPECT_EQ(r.form->engine_step, 0);
        EXPECT_EQ(r.form->block_select, (std::array<std::uint8_t, 9>{}));
        EXPECT_TRUE(r.line.log.empty());
    }
}

TEST(BlockErase, JobSelectionIgnoresTheFamily) {
    writer_sim::rig r;
    for (int n = 1; n <= 9; ++n) r.form->check(n).value = (n == 3 || n == 4);
    read_erase_block_checks(*r.form);
    EXPECT_EQ(r.form->block_select, (std::array<std::uint8_t, 9>{0, 0, 1, 1, 0, 0, 0, 0, 0}));
}
