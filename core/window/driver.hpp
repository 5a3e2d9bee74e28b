// The one driver every front end runs the form on: the Qt window, the
// Windows window, the command line and the virtual-time harness. It owns
// when each timer ticks, what of each control changed since it was last
// drawn, the title, the status line's history and reason, the progress line
// and the trace view's new lines. A front end forwards the operator's events
// and its clock's ticks here, then draws what `refresh` says changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "window/front.hpp"
#include "window/layout.hpp"

namespace torvela {

// What of a control its widget must show again.
enum class redraw_part : unsigned { caption = 1, value = 2, shown = 4, enabled = 8, items = 16, place = 32 };
struct control_change {
    control* c;
    unsigned parts;
    bool has(redraw_part p) const { return (parts & static_cast<unsigned>(p)) != 0; }
    bool shown;  // whether it shows now
    rect at;     // where it stands now
};

// The labels that follow the exchanges (the frames' bytes, the counts),
// the title and the progress line are drawn at most this often while a
// job runs; the status line, the pictures and the state of every control
// at once, and everything after an operator's act.
inline constexpr int caption_period_ms = 250;
// How many jobs the service view lists.
inline constexpr std::size_t jobs_listed = 6;

class front_driver {
public:
    // `trace` is the port the form talks through; its tick count goes up
    // with each engine tick.
    front_driver(main_form& f, traced_port& trace, timer_driver::offered how);

    // The form's load with the timers started at `now_ms`, and its unload
    // (once, whether the window was closed or went away).
    void load(std::int64_t now_ms);
    void unload();

    // The operator set the control's value or text (the widget shows it
    // already) and the event follows.
    void event(control& c, control_event e, std::int64_t now_ms);
    // The operator's own acts as the widgets report them: the form takes
    // what the widget shows, then the event runs. A button pressed; a check
    // box ticked or not (`on`), an option button chosen (the form's other
    // options are not: one group); a list's item picked; a text typed into
    // a list or a text field. A widget set from the form reports the form's
    // own text back: that is no act.
    void pressed(control& c, std::int64_t now_ms) { event(c, control_event::click, now_ms); }
    void clicked(control& c, bool on, std::int64_t now_ms);
    void picked(control& c, const std::string& item, std::int64_t now_ms);
    void typed(control& c, const std::string& text, std::int64_t now_ms);
    // The front end's clock at `now_ms`: every timer due runs. True when
    // one ran (then the front end refreshes).
    bool tick(std::int64_t now_ms);
    // When the next timer is due.
    std::int64_t next_due() const { return timers_.next_due(); }
    // Timer ticks that ran, per timer (Timer3's are the busy pictures' steps).
    std::uint64_t ticks_run(int index) const { return ticks_run_[index]; }

    bool service_view() const { return service_view_; }
    // Every control is placed again (and the view's parts shown or hidden).
    void set_service_view(bool on);

    // A new status line since the last look, which the history keeps.
    std::optional<std::string> take_status();
    // The status line's texts in the order they appeared.
    const std::vector<std::string>& status_history() const { return status_history_; }
    // Brings the progress line to `now_ms` (the pass under way, its clock).
    const progress_line& advance_progress(std::int64_t now_ms);
    // The progress line as it was last brought forward.
    const progress_line& progress() const { return progress_; }

    struct redraw {
        std::vector<control_change> controls;
        std::optional<std::string> title;
        std::optional<std::string> status_tip;  // the reason behind the status line
        std::optional<std::string> detail;      // a failure's detail under it
        std::optional<std::string> progress;    // only while the service view shows
        trace_feed::update trace;                // likewise
        // The last jobs of the history, one line each, oldest first: when
        // the view opens and after each operation recorded.
        std::optional<std::vector<std::string>> jobs;
    };
    // What changed since the last refresh, at `now_ms`. It also takes a new
    // status line into the history (as take_status) and brings the
    // progress line forward: a window needs nothing else after a tick.
    redraw refresh(std::int64_t now_ms);

    // Where the kept units are, for KEPT UNITS; empty without a history.
    std::string kept_units_folder() const;
    // The last `count` jobs of the history as the service view lists them:
    // "16:31:18  save memories to file  unit.dat  success".
    std::vector<std::string> recent_jobs(std::size_t count) const;

    // The last `lines` trace lines as text, one a line.
    std::string trace_text(std::size_t lines) const;
    // The whole trace document into `path` (UTF-8): true when every byte
    // reached the file.
    bool save_trace(const std::string& path) const;

private:
    struct drawn {
        control* c;
        std::string caption;
        int value = 0;
        std::size_t items = 0;
        bool shown = false, enabled = false;
        rect at{};
        bool fresh = true;  // never drawn: every part is drawn
    };
    main_form& f_;
    traced_port& trace_;
    timer_driver timers_;
    progress_line progress_;
    trace_feed feed_;
    std::vector<drawn> drawn_;
    std::vector<std::string> status_history_;
    std::optional<std::string> title_, tip_, progress_text_, detail_;
    std::string status_seen_;  // the status line at the last look
    std::optional<std::uint32_t> jobs_listed_;  // the operations recorded when the jobs were last listed
    std::uint64_t ticks_run_[timer_driver::timers] = {};
    bool service_view_ = false;
    bool loaded_ = false, unloaded_ = false;
    bool acted_ = true;             // an act since the last refresh: draw it all now
    std::int64_t captions_at_ = 0;  // when the labels were last drawn
};

// The window's --help, after its usage line.
inline constexpr const char* window_help =
    "The service window for the ROM writer on an RS-232 line. Ctrl+Shift+F12\n"
    "shows the service view. The writer's operations from the command line:\n"
    "torvela-cli.\n";

}  // namespace torvela
