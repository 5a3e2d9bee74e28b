// Start state of the window, the write-count list and the busy indicator.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "console/main_form.hpp"
#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "support.hpp"

using namespace torvela;
using test_support::busy_pictures_reset;

TEST(StartState, OnlyTheOperatorsControlsAreVisible) {
    writer_sim::rig r;
    std::set<std::string> visible;
    for (const control* c : r.form->controls)
        if (c->visible && c->kind != control_kind::timer) visible.insert(c->name);
    EXPECT_EQ(visible, (std::set<std::string>{"serial_name", "Combo2", "Label9", "file_select",
                                              "allunlock_erase", "Label10", "Image1", "Image10",
                                              "Image11"}));
    // Everything shown lies inside the 7545 x 3150 twip client area.
    for (const control* c : r.form->controls)
        if (c->visible && c->kind != control_kind::timer) {
            EXPECT_LE(c->left + c->width, 7545) << c->name;
            EXPECT_LE(c->top + c->height, 3150) << c->name;
        }
    EXPECT_EQ(r.form->file_select.caption, "SELECT FILE ");
    EXPECT_EQ(r.form->allunlock_erase.caption, "ERASE ALL FLASH");
    EXPECT_EQ(r.form->serial_name.caption, "SELECT SERIAL PORT");
}

struct combo3_case {
    const char* text;
    int expected;
};

class WriteCountLimit : public ::testing::TestWithParam<combo3_case> {};

TEST_P(WriteCountLimit, ChoiceIsStored) {
    writer_sim::rig r;
    r.form->write_count_limit = 77;
    r.form->Combo3.caption = GetParam().text;
    Combo3_Click(*r.form);
    EXPECT_EQ(r.form->write_count_limit, GetParam().expected);
    r.form->write_count_limit = 77;
    Combo3_Change(*r.form);
    EXPECT_EQ(r.form->write_count_limit, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Combo3, WriteCountLimit,
                         ::testing::Values(combo3_case{"UNLIMITED", 0}, combo3_case{"200", 200},
                                           combo3_case{"1", 1}, combo3_case{"201", 77},
                                           combo3_case{"unlimited", 77}, combo3_case{"", 77},
                                           combo3_case{"007", 77}));

// Which busy picture is shown: the spinner (1..4), the down arrows (5..9) and
// the up arrows (12..16), as one text such as "2|-|-".
std::string pictures(main_form& f) {
    auto which = [&](int first, int last) {
        std::string s;
        for (int n = first; n <= last; ++n)
            if (f.image(n).visible) s += std::to_string(n - first);
        return s.empty() ? std::string("-") : s;
    };
    return which(1, 4) + "|" + which(5, 9) + "|" + which(12, 16);
}

struct indicator_case {
    int job;
    std::vector<std::string> frames;
};

class BusyIndicator : public ::testing::TestWithParam<indicator_case> {};

TEST_P(BusyIndicator, SequenceOfPictures) {
    writer_sim::rig r;
    main_form& f = *r.form;
    f.job_no = static_cast<std::uint8_t>(GetParam().job);
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < GetParam().frames.size(); ++i) {
        Timer3_Timer(f);
        seen.push_back(pictures(f));
    }
    EXPECT_EQ(seen, GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(
    Timer3, BusyIndicator,
    ::testing::Values(
        indicator_case{7, {"0|-|-", "1|-|-", "2|-|-", "3|-|-", "0|-|-"}},
        indicator_case{6, {"0|0|-", "1|1|-", "2|2|-", "3|3|-", "0|4|-", "1|0|-"}},
        indicator_case{4, {"0|-|0", "1|-|1", "2|-|2", "3|-|3", "0|-|4", "1|-|0"}}));

TEST(BusyIndicator, SecondJobContinuesWhereTheFirstStopped) {
    writer_sim::rig r;
    main_form& f = *r.form;
    f.job_no = 7;
    Timer3_Timer(f);
    Timer3_Timer(f);  // spinner shows picture 2, next is 3
    stop_busy_indicator(f, indicator::all);
    EXPECT_EQ(pictures(f), "0|-|-");
    Timer3_Timer(f);
    EXPECT_EQ(pictures(f), "2|-|-");
}

TEST(BusyIndicator, EraseAllTurnsOnlyTheSpinner) {
    writer_sim::rig r;
    bool arrow_seen = false;
    std::set<int> spinner_seen;
    r.after_event = [&](writer_sim::rig& g) {
        for (int n : {5, 6, 7, 8, 9, 12, 13, 14, 15, 16}) arrow_seen |= g.form->image(n).visible;
        for (int n = 1; n <= 4; ++n)
            if (g.form->image(n).visible) spinner_seen.insert(n);
    };
    r.sim.erase_all_delay_us = 1'500'000;
    allunlock_erase_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_FALSE(arrow_seen);
    EXPECT_EQ(spinner_seen, (std::set<int>{1, 2, 3, 4}));
    EXPECT_TRUE(busy_pictures_reset(*r.form));
}

// Every button of the window that starts an exchange or a job, with what it
// needs: a chosen file, a port already open (the job buttons open it
// themselves). Without it the button asks nothing and sends nothing; with
// an exchange under way, neither.
struct button_needs {
    const char* name;
    bool file, open_port;
};

class Buttons : public ::testing::TestWithParam<button_needs> {};

TEST_P(Buttons, DoNothingWithoutWhatTheyNeed) {
    const button_needs& b = GetParam();
    enum class missing { file, open_port, idle_engine };
    for (missing m : {missing::file, missing::open_port, missing::idle_engine}) {
        if ((m == missing::file && !b.file) || (m == missing::open_port && !b.open_port)) continue;
        writer_sim::rig r;
        main_form& f = *r.form;
        if (m != missing::file) f.memory_file_path = "unit.dat";
        if (m != missing::open_port) command1_Click(f);
        if (m == missing::idle_engine) f.engine_step = 5;
        const bool was_open = r.port.PortOpen();
        guarded(f, f.find(b.name)->click);
        EXPECT_TRUE(r.box.asked.empty()) << b.name << " " << int(m);
        EXPECT_TRUE(r.line.log.empty()) << b.name << " " << int(m);
        EXPECT_EQ(r.port.PortOpen(), was_open) << b.name << " " << int(m);
        EXPECT_EQ(f.job_no, 0) << b.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, Buttons,
    ::testing::Values(button_needs{"allunlock_erase", false, false}, button_needs{"ramdata_get", true, false},
                      button_needs{"ramdata_store", true, false}, button_needs{"flashall_write", true, false},
                      button_needs{"unit_3mode", true, false}, button_needs{"writer_versionup", true, false},
                      button_needs{"flashblock_write", true, false}, button_needs{"verify", true, true},
                      button_needs{"write", true, true}, button_needs{"id_check", true, true},
                      button_needs{"block_erase", false, true}, button_needs{"rockbit_set", false, true},
                      button_needs{"rockbit_read", false, true}, button_needs{"rockbit_on", false, true},
                      button_needs{"rockbit_non", false, true}, button_needs{"swon_en", false, true},
                      button_needs{"target_write", false, true}, button_needs{"write_count", false, false}),
    [](const auto& p) { return std::string(p.param.name); });
