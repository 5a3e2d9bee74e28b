// Start state of the window, the write-count list and the busy indicator.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "erase/erase.hpp"
#include "link/link.hpp"
#include "memories/memories.hpp"
#include "console/status_texts.hpp"
#include "support.hpp"
#include "window/driver.hpp"
#include "window/window_files.hpp"

using namespace torvela;
using test_support::busy_pictures_reset;

// The write-count limit takes UNLIMITED or 1..200 as typed; anything else
// leaves the last choice.
TEST(WriteCountLimit, ChoiceIsStored) {
    writer_sim::rig r;
    const std::pair<const char*, int> rows[] = {{"UNLIMITED", 0}, {"200", 200}, {"1", 1},   {"201", 77},
                                                {"unlimited", 77}, {"", 77},     {"007", 77}};
    for (const auto& [text, expected] : rows)
        for (void (*handler)(main_form&) : {Combo3_Click, Combo3_Change}) {
            r.form->write_count_limit = 77;
            r.form->Combo3.caption = text;
            handler(*r.form);
            EXPECT_EQ(r.form->write_count_limit, expected) << text;
        }
}

// The busy pictures Timer3 shows tick by tick, one job after another: the
// spinner (1..4), the down arrows (5..9), the up arrows (12..16), as texts
// such as "2|-|-". A job's spinner and arrows go on where the last job's
// stopped.
TEST(BusyIndicator, SequenceOfPictures) {
    writer_sim::rig r;
    main_form& f = *r.form;
    auto shown = [&](int first, int last) {
        std::string s;
        for (int n = first; n <= last; ++n)
            if (f.image(n).visible) s += std::to_string(n - first);
        return s.empty() ? std::string("-") : s;
    };
    const std::pair<int, const char*> jobs[] = {{7, "0|-|- 1|-|- 2|-|- 3|-|- 0|-|- "},
                                                {6, "1|0|- 2|1|- 3|2|- 0|3|- 1|4|- 2|0|- "},
                                                {4, "3|-|1 0|-|2 1|-|3 2|-|4 3|-|0 0|-|1 "}};
    for (const auto& [job, pictures] : jobs) {
        f.job_no = static_cast<std::uint8_t>(job);
        std::string seen;
        for (int tick = 0; tick < 6 - (job == 7); ++tick) {
            Timer3_Timer(f);
            seen += shown(1, 4) + "|" + shown(5, 9) + "|" + shown(12, 16) + " ";
        }
        EXPECT_EQ(seen, pictures) << job;
        stop_busy_indicator(f, indicator::all);
        EXPECT_EQ(shown(1, 4) + shown(5, 9) + shown(12, 16), "0--");
    }
}

// During a job the spinner (pictures 1..4) turns and the arrows show which
// way the data goes: down to the writer (5..9), up from it (12..16).
TEST(BusyIndicator, ArrowsShowTheDirection) {
    const std::pair<void (*)(main_form&), std::set<int>> rows[] = {
        {allunlock_erase_Click, {1, 2, 3, 4}},
        {ramdata_get_Click, {1, 2, 3, 4, 12, 13, 14, 15, 16}},
        {ramdata_store_Click, {1, 2, 3, 4, 5, 6, 7, 8, 9}}};
    for (const auto& [click, pictures_seen] : rows) {
        test_support::unit_rig r;
        r.sim.erase_all_delay_us = 1'500'000;
        r.choose(click == ramdata_store_Click ? r.memories() : "");
        std::set<int> seen;
        r.after_event = [&](writer_sim::rig& g) {
            for (int n = 1; n <= 16; ++n)
                if (g.form->image(n).visible && n != 10 && n != 11) seen.insert(n);  // 10, 11: PC and writer
        };
        click(*r.form);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(seen, pictures_seen);
        EXPECT_TRUE(busy_pictures_reset(*r.form));
    }
}

// Every button of the window that starts an exchange or a job, with what it
// needs: a chosen file, a port already open (the job buttons open it
// themselves). Without it the button asks nothing and sends nothing; with
// an exchange under way, neither; and its box answered No sends nothing.
struct button_needs {
    const char* name;
    bool file, open_port;
};

class Buttons : public ::testing::TestWithParam<button_needs> {};

TEST_P(Buttons, DoNothingWithoutWhatTheyNeed) {
    const button_needs& b = GetParam();
    enum class missing { file, open_port, idle_engine, yes };
    for (missing m : {missing::file, missing::open_port, missing::idle_engine, missing::yes}) {
        if ((m == missing::file && !b.file) || (m == missing::open_port && !b.open_port)) continue;
        writer_sim::rig r;
        main_form& f = *r.form;
        if (m != missing::file) f.memory_file_path = "unit.dat";
        if (m != missing::open_port) command1_Click(f);
        if (m == missing::idle_engine) f.engine_step = 5;
        const bool was_open = r.port.PortOpen();
        r.box.answers = {false};
        guarded(f, f.find(b.name)->click);
        if (m == missing::yes && r.box.asked.empty()) continue;  // a button without a box
        EXPECT_EQ(f.job_no, 0) << b.name;
        EXPECT_EQ(f.engine_step, m == missing::idle_engine ? 5 : 0) << b.name;
        EXPECT_TRUE(r.line.log.empty()) << b.name << " " << int(m);
        if (m == missing::yes) continue;
        EXPECT_TRUE(r.box.asked.empty()) << b.name << " " << int(m);
        EXPECT_EQ(r.port.PortOpen(), was_open) << b.name << " " << int(m);
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

// A pass counts its own pages and no more; the progress line shows them,
// and the time left only while pages remain in this pass or a later one.
TEST(Progress, APassCountsItsPagesOnly) {
    writer_sim::rig r;
    main_form& f = *r.form;
    using kind = main_form::page_progress::kind;
    f.job_no = 6;
    start_progress(f, 3, kind::write, {{kind::verify, 3}});
    progress_line line;
    const struct {
        int pages_done;
        const char* text;  // the line once that many pages were done
    } rows[] = {
        // 3 writes of 52 ms, the next tick at 500 ms, 3 verifies of 60 ms,
        // the tick at 1 s, the closing phase: 1.5 s, shown as 2.
        {0, "WRITE  PAGES 0/3  0:00 ELAPSED  0:02 LEFT"},
        {2, "WRITE  PAGES 2/3  0:00 ELAPSED  0:02 LEFT"},
        {5, "WRITE  PAGES 3/3  0:00 ELAPSED  0:01 LEFT"},  // a fourth page is no page of the pass
    };
    int done = 0;
    for (const auto& row : rows) {
        for (; done < row.pages_done; ++done) page_done(f);
        line.update(f, 0);
        EXPECT_EQ(line.text(), row.text);
    }
    start_progress(f, 3, kind::verify);
    for (int i = 0; i < 4; ++i) page_done(f);
    line.update(f, 0);
    EXPECT_EQ(line.text(), "VERIFY  PAGES 3/3  0:00 ELAPSED");
}

// The driver every front end draws from: a control is drawn again only for
// what changed since, the widget the operator set is not set back, and the
// service view places everything again.
TEST(FrontDriver, DrawsOnlyWhatChanged) {
    writer_sim::rig r;
    front_driver& d = *r.driver;
    main_form& f = *r.form;
    auto names = [](const front_driver::redraw& rd, redraw_part part) {
        std::set<std::string> n;
        for (const control_change& c : rd.controls)
            if (c.has(part)) n.insert(c.c->name);
        return n;
    };
    const auto first = d.refresh(0);
    EXPECT_EQ(first.controls.size(), f.controls.size() - 3);  // all but the timers
    EXPECT_EQ(first.title, "TORVELA - COM1");
    EXPECT_TRUE(d.refresh(0).controls.empty());
    // The operator picks M16C: the block labels change; the option he
    // clicked already shows it.
    d.clicked(f.Option2, true, 0);
    const auto picked = d.refresh(0);
    EXPECT_EQ(names(picked, redraw_part::caption),
              (std::set<std::string>{"Label23", "Label24", "Label25", "Label26", "Label27", "Label28", "Label29"}));
    EXPECT_TRUE(names(picked, redraw_part::value).empty());
    // Then M32R: the other option is drawn off (one group).
    d.clicked(f.Option1, true, 0);
    EXPECT_EQ(f.Option2.value, 0);
    EXPECT_EQ(names(d.refresh(0), redraw_part::value), (std::set<std::string>{"Option2"}));
    d.clicked(f.Option2, true, 0);
    d.refresh(0);
    // A list drawn from the form reports its own text back: no act. A text
    // typed is taken as typed, and the list drawn again shows it.
    const std::string port = f.Combo2.caption;
    d.typed(f.Combo2, port, 0);
    EXPECT_TRUE(d.refresh(0).controls.empty());
    d.typed(f.Combo2, "COM7", 0);
    EXPECT_EQ(f.Combo2.caption, "COM7");
    EXPECT_TRUE(names(d.refresh(0), redraw_part::caption).empty());
    EXPECT_FALSE(picked.title);
    // A button turned off by a handler is drawn off, and only that.
    f.command1.enabled = !f.command1.enabled;
    EXPECT_EQ(names(d.refresh(0), redraw_part::enabled), (std::set<std::string>{"command1"}));
    f.command1.enabled = !f.command1.enabled;
    EXPECT_EQ(names(d.refresh(0), redraw_part::enabled), (std::set<std::string>{"command1"}));
    // The service view: every control placed again, the service rows shown.
    d.set_service_view(true);
    const auto view = d.refresh(0);
    EXPECT_EQ(names(view, redraw_part::place).size(), f.controls.size() - 3);
    EXPECT_TRUE(names(view, redraw_part::shown).count("command1"));
    EXPECT_EQ(view.progress, "");
    // A job's labels follow every exchange: between two of their periods a
    // label waits, then shows its last text; the status line and the
    // state of a button show at once.
    const struct {
        std::int64_t at;
        const char* address;  // Label12, an address byte
        const char* status;
        bool drawn;  // Label12 is drawn, showing the address
    } ticks[] = {
        {caption_period_ms, "1", "READ NOW!", true},
        {caption_period_ms + 4, "2", "READ NOW!", false},
        {caption_period_ms + 8, "3", "VERIFY NOW!", false},
        {2 * caption_period_ms - 1, "3", "VERIFY NOW!", false},
        {2 * caption_period_ms, "3", "VERIFY NOW!", true},
    };
    for (const auto& t : ticks) {
        SCOPED_TRACE(t.at);
        const bool new_status = f.Label9.caption != t.status;
        f.Label12.caption = t.address;
        f.Label9.caption = t.status;
        f.command1.enabled = !f.command1.enabled;
        const auto rd = d.refresh(t.at);
        std::set<std::string> want = {"command1"};
        if (t.drawn) want.insert("Label12");
        if (new_status) want.insert("Label9");
        std::set<std::string> drawn = names(rd, redraw_part::caption);
        drawn.merge(names(rd, redraw_part::enabled));
        EXPECT_EQ(drawn, want);
    }
    // An act draws everything that waits at once.
    f.Label12.caption = "4";
    d.refresh(2 * caption_period_ms + 4);
    d.clicked(f.Check3, true, 2 * caption_period_ms + 8);
    EXPECT_TRUE(names(d.refresh(2 * caption_period_ms + 8), redraw_part::caption).count("Label12"));
}

// A press between two sequencer ticks: the job's phases run a whole
// interval apart from the press on, and the driver never names a moment
// already past as the next (a front end would spin on it).
TEST(FrontDriver, APressStartsTheSequencerGrid) {
    writer_sim::rig r;
    r.run_for(1'234'000);
    r.driver->event(r.form->allunlock_erase, control_event::click, 1234);
    const std::uint64_t before = r.driver->ticks_run(1);
    std::int64_t first_phase = -1;
    bool names_the_past = false;
    r.after_event = [&](writer_sim::rig& rr) {
        const auto now = static_cast<std::int64_t>(rr.line.now_us / 1000);
        names_the_past = names_the_past || rr.driver->next_due() <= now;
        if (first_phase < 0 && rr.driver->ticks_run(1) > before) first_phase = now;
    };
    ASSERT_TRUE(r.run_until([&] { return names_the_past || (r.form->job_no == 0 && r.form->engine_step == 0); },
                            60'000'000));
    EXPECT_FALSE(names_the_past);
    EXPECT_EQ(first_phase, 1734);
    EXPECT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
}

// The Yes box held the press for most of an interval: the first phase comes
// once the line has been quiet (48 ms after the port opened), off the grid
// the press began; the erase command still comes a whole interval after it.
TEST(FrontDriver, AFirstPhaseOffTheGridKeepsItsPhasesApart) {
    writer_sim::rig r;
    r.run_for(1'234'000);
    r.box.while_open = [&] { r.line.advance_to(r.line.now_us + 480'000); };
    r.driver->event(r.form->allunlock_erase, control_event::click, 1234);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
    std::uint64_t id_check = 0, erase = 0;
    for (const auto& frame : r.line.log)
        if (frame.to_writer && frame.bytes.size() == 2) {
            if (frame.bytes[0] == 0xF5) id_check = frame.time_us;
            if (frame.bytes[0] == 0xA7) erase = frame.time_us;
        }
    EXPECT_GE(id_check, (1234 + 480 + 48) * 1000u);
    EXPECT_LT(id_check, (1234 + 500 + 500) * 1000u) << "the first phase waited a whole interval";
    EXPECT_GE(erase - id_check, 500'000u);
}

// The trace view takes the last lines once, then only the new ones, a few
// times a second.
TEST(FrontDriver, TraceViewTakesOnlyNewLines) {
    writer_sim::rig r;
    front_driver& d = *r.driver;
    d.set_service_view(true);
    allunlock_erase_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    const auto whole = d.refresh(0).trace;
    EXPECT_TRUE(whole.replace);
    EXPECT_TRUE(d.refresh(100).trace.text.empty());  // nothing new, and too soon
    r.traced.note("one more");
    EXPECT_TRUE(d.refresh(trace_view_period_ms - 1).trace.text.empty());
    const auto next = d.refresh(trace_view_period_ms).trace;
    EXPECT_FALSE(next.replace);
    EXPECT_EQ(std::count(next.text.begin(), next.text.end(), '\n'), 1);
    EXPECT_NE(next.text.find("one more"), std::string::npos);
}

// When each timer runs, offered ticks at the given moments: on the grid, a
// periodic timer's tick a millisecond early, a tick one interval or more
// late (it runs once, and the next is an interval after it), and the engine
// that idles at 100 ms with the port closed and is due 4 ms after its last
// tick once the port opens.
TEST(TimerDriver, RunsEachTimerOnItsGrid) {
    struct offer {
        int timer;
        std::int64_t at;
        bool runs;
        bool open_first = false;
        bool open_after = false;
    };
    struct driver_case {
        const char* what;
        timer_driver::offered how;
        std::vector<offer> offers;
        std::int64_t next_due;  // after the last offer (-1: the engine's idle tick comes sooner)
    };
    using o = timer_driver::offered;
    const std::vector<driver_case> cases = {
        {"on the grid", o::by_one_loop, {{1, 499, false}, {1, 500, true}, {1, 999, false}, {1, 1000, true}}, -1},
        {"a periodic timer a millisecond early", o::by_one_timer, {{1, 498, false}, {1, 499, true}, {1, 998, false}, {1, 999, true}}, -1},
        {"one interval late", o::by_one_loop, {{1, 1000, true}, {1, 1001, false}, {1, 1499, false}, {1, 1500, true}}, -1},
        {"more than an interval late", o::by_one_loop, {{1, 1700, true}, {1, 1700, false}, {1, 2199, false}, {1, 2200, true}}, -1},
        {"the engine while the port opens",
         o::by_one_loop,
         {{0, 4, false}, {0, 100, true}, {0, 104, true, true}, {0, 107, false}, {0, 108, true}},
         112},
        // A loop that sleeps until the next is due wakes for the engine an
        // engine interval after its last idle tick, not at the next idle one.
        {"the engine due right after the port opens", o::by_one_loop, {{0, 100, true, false, true}}, 104},
    };
    for (const driver_case& c : cases) {
        SCOPED_TRACE(c.what);
        writer_sim::rig r;
        main_form& f = *r.form;
        std::uint64_t engine_ticks = 0;
        timer_driver timers(f, engine_ticks, c.how);
        timers.start(0);
        for (const offer& at : c.offers) {
            if (at.open_first) {
                ASSERT_TRUE(open_port(f));
            }
            EXPECT_EQ(timers.offer(at.timer, at.at), at.runs) << "Timer" << at.timer + 1 << " at " << at.at;
            if (at.open_after) {
                ASSERT_TRUE(open_port(f));
            }
        }
        if (c.next_due >= 0) {
            EXPECT_EQ(timers.next_due(), c.next_due);
        }
        f.MSComm1.PortOpen(false);
    }
}

// Every status text is found by its text and its outcome, and by no other
// outcome: the exit status, the title and the README read the outcome.
TEST(StatusTexts, FoundByTextAndOutcome) {
    const outcome all[] = {outcome::success, outcome::writer_refused, outcome::writer_state,
                           outcome::communication_lost, outcome::file_problem, outcome::no_port,
                           outcome::interrupted, outcome::different, outcome::internal_error};
    for (const status_text& row : status_texts()) {
        SCOPED_TRACE(row.text);
        const status_text* found = find_status(row.text, row.result);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->result, row.result);
        EXPECT_STREQ(found->text, row.text);
        for (const outcome other : all) {
            const bool listed = std::any_of(status_texts().begin(), status_texts().end(), [&](const status_text& t) {
                return std::string_view(t.text) == row.text && t.result == other;
            });
            if (!listed) {
                EXPECT_EQ(find_status(row.text, other), nullptr) << static_cast<int>(other);
            }
        }
    }
    EXPECT_EQ(find_status("NO SUCH STATUS", outcome::success), nullptr);
}

// The file dialogs open in the first candidate that is a folder, then
// wherever the operator last chose a file, on either system's paths.
TEST(DialogFolder, OpensWhereTheLastFileWas) {
    private_work_folder home;
    dialog_folder folder({home.file("no-documents"), home.path()});
    EXPECT_EQ(folder.path(), home.path());
    const struct {
        const char* chosen;
        const char* opens;
    } table[] = {
        {"/srv/units/unit.dat", "/srv/units"},
        {"unit.dat", "/srv/units"},  // no folder in the name: where it was
        {"C:\\測定データ\\ユニット１.dat", "C:\\測定データ"},
        {"Z:\\unit.dat", "Z:\\"},
        {"/unit.dat", "/"},
        {"\\\\bench\\share\\unit.dat", "\\\\bench\\share"},
    };
    for (const auto& row : table) {
        folder.chose(row.chosen);
        EXPECT_EQ(folder.path(), row.opens) << row.chosen;
    }
    EXPECT_EQ(dialog_folder({home.file("none"), ""}).path(), "");
}
