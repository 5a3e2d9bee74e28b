// The command engine against the simulated writer: the writer-ID check's
// acknowledgement outcomes, the abort sequence and the watchdog.
#include <gtest/gtest.h>

#include "engine/engine.hpp"
#include "engine/writer_id.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "service/lock_bits.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault;
using writer_sim::fault_kind;

namespace {

// A rig with the port open and a memory file chosen, ready for the ID check.
struct id_rig : writer_sim::rig {
    id_rig() {
        form->memory_file_path = "chosen.dat";
        command1_Click(*form);
    }
};

}  // namespace

struct id_case {
    const char* name;
    std::vector<fault> faults;
    const char* status;
    bool port_open_after;
};

class WriterIdCheck : public ::testing::TestWithParam<id_case> {};

TEST_P(WriterIdCheck, Outcome) {
    id_rig r;
    for (const fault& x : GetParam().faults) r.sim.add_fault(x);
    r.form->job_phase = 42;
    id_check_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"ID CHECK|ID CHECK?"}));
    ASSERT_EQ(r.form->engine_step, 5);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 20'000'000));
    EXPECT_EQ(r.form->Label9.caption, GetParam().status);
    EXPECT_EQ(r.port.PortOpen(), GetParam().port_open_after);
    EXPECT_EQ(r.form->job_phase, GetParam().port_open_after ? 12 : 42);
    if (!GetParam().port_open_after) {
        EXPECT_EQ(r.form->Combo1.caption, "commimucation stop");
        EXPECT_TRUE(test_support::busy_pictures_reset(*r.form));
    }
    EXPECT_EQ(r.port.sends_on_closed_port, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, WriterIdCheck,
    ::testing::Values(
        id_case{"accepted", {}, "CHECK WRITER-ID OK", true},
        id_case{"echo_split", {{"echo:F5", 1, fault_kind::split}}, "CHECK WRITER-ID OK", true},
        id_case{"verdict_split", {{"done:F5", 1, fault_kind::split}}, "CHECK WRITER-ID OK", true},
        id_case{"verdict_long", {{"done:F5", 1, fault_kind::extra_bytes}}, "CHECK WRITER-ID OK", true},
        id_case{"echo_wrong", {garbled("echo:F5")}, "COMMUNICATION ERROR", false},
        id_case{"echo_is_d0", {{"echo:F5", 1, fault_kind::replace, {0xD0, 0xD0}}}, "COMMUNICATION ERROR", false},
        id_case{"echo_half", {{"echo:F5", 1, fault_kind::replace, {0xF5, 0x00}}}, "COMMUNICATION ERROR", false},
        id_case{"verdict_ac", {refused("done:F5")}, "INSTALLER ERROR", false},
        id_case{"verdict_garbage", {garbled("done:F5")}, "COMMUNICATION ERROR", false},
        id_case{"echo_silent", {silent("echo:F5")}, "COMMUNICATION ERROR", false},
        id_case{"verdict_silent", {silent("done:F5")}, "COMMUNICATION ERROR", false},
        id_case{"line_drops", {line_drops("done:F5")}, "COMMUNICATION ERROR", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WriterIdCheck, WrongCodeIsRefusedAsInstallerError) {
    id_rig r;
    r.sim.id_code[6] ^= 0x01;
    id_check_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 10'000'000));
    EXPECT_EQ(r.form->Label9.caption, "INSTALLER ERROR");
    EXPECT_EQ(r.sim.id_checks_refused, 1);
}

// An abort on a closed port leaves no stale count for the next job: its
// first exchange gets the whole watchdog time.
TEST(Watchdog, NextJobAfterAnAbortGetsTheWholeTime) {
    writer_sim::rig r;
    r.sim.add_fault(silent("echo:F5"));
    allunlock_erase_Click(*r.form);
    r.run_for(11'600'000);  // step 5 has stood almost the whole watchdog time
    ASSERT_EQ(r.form->engine_step, 5);
    Command3_Click(*r.form);
    ASSERT_TRUE(r.run_job(2'000'000));
    EXPECT_EQ(r.form->Label9.caption, "COMMUNICATION ERROR");
    r.sim = writer_sim::writer();  // the writer switched off and on
    r.sim.echo_delay_us = 1'000'000;
    allunlock_erase_Click(*r.form);
    Timer2_Timer(*r.form);  // phase 99 before the engine's next tick
    ASSERT_TRUE(r.run_job(30'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
}

// Disconnecting under a one-step exchange ends it through the abort, so no
// button stays dead; Connect then starts a clean watchdog and the same
// exchange completes.
TEST(Engine, DisconnectDuringAnExchangeEndsItAndConnectStartsClean) {
    writer_sim::rig r;
    main_form& f = *r.form;
    command1_Click(f);
    r.sim.add_fault(silent("echo:7A"));
    rockbit_on_Click(f);
    ASSERT_EQ(f.engine_step, 8);
    r.run_for(11'000'000);  // most of the watchdog time
    Command3_Click(f);
    r.run_for(10'000);
    EXPECT_EQ(f.engine_step, 0);
    EXPECT_EQ(f.Label9.caption, "COMMUNICATION ERROR");
    EXPECT_EQ(f.Label1.caption, "commimucation stop");
    EXPECT_TRUE(test_support::busy_pictures_reset(f));
    r.sim = writer_sim::writer();  // the writer switched off and on
    r.sim.echo_delay_us = 2'000'000;
    command1_Click(f);
    rockbit_on_Click(f);
    ASSERT_TRUE(r.run_until([&] { return f.engine_step == 0; }, 30'000'000));
    EXPECT_EQ(f.Label9.caption, "ROCK BIT VALIDITY OK");
}

// Each step label belongs to one row, and every row's next label is a row of
// the same exchange (or its end): a typo in a declaration cannot send the
// engine into another exchange or into nothing.
TEST(Engine, ExchangesAreClosedUnderTheirLabels) {
    std::vector<int> seen(256, 0);
    for (const exchange* x : exchanges()) {
        for (const exchange_step& r : x->steps) {
            ++seen[r.step];
            if (r.body || r.next == 0) continue;
            EXPECT_EQ(find_step(r.next).of, x) << x->name << " row " << int(r.step);
        }
    }
    for (int s = 0; s < 256; ++s) {
        EXPECT_LE(seen[s], 1) << s;
        EXPECT_EQ(find_step(static_cast<std::uint8_t>(s)).row != nullptr, seen[s] == 1) << s;
    }
    EXPECT_EQ(find_step(0).row, nullptr);
}
