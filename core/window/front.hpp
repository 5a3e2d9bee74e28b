// What every window shares: how a control's event or a timer's tick reaches
// the core, where a control stands in the operator's and the service view,
// the progress line, and the status line's reason. A front end draws the
// controls from the form, forwards events here and redraws.
#pragma once

#include <cstdint>
#include <string>

#include "console/main_form.hpp"
#include "link/trace.hpp"

namespace torvela {

enum class control_event : std::uint8_t { click, change };

// The control's value or text is already what the operator set; runs its
// handler for the event (if it has one) behind the exception barrier.
void fire(main_form& f, control& c, control_event e);
// One tick of Timer1, Timer2 or Timer3, behind the barrier.
void tick(main_form& f, control& timer);

// Sizes in pixels (15 twips each).
inline constexpr int twips_per_pixel = 15;
inline constexpr int client_width = 7545 / twips_per_pixel, client_height = 3150 / twips_per_pixel;
// The service view: the rows below the client area and a trace beside them.
inline constexpr int service_height = 12000 / twips_per_pixel, trace_width = 360;
inline constexpr int service_row_top = (3240 + 17 * 480) / twips_per_pixel;  // progress line, SAVE TRACE
inline constexpr int service_button_width = 1740 / twips_per_pixel, service_button_height = 375 / twips_per_pixel;
// SAVE TRACE, on the last row after the progress line.
inline constexpr int save_trace_left = 8 + 3 * 1860 / twips_per_pixel;
inline constexpr int trace_view_lines = 200;
// With the port closed the engine has nothing to step: its tick only shows
// the port state, so it need not wake the machine 250 times a second.
inline constexpr int idle_engine_interval = 100;

// When each of the three timers runs its tick, on any steady clock in
// milliseconds. Each timer is due an interval after its last due time (the
// engine's idle interval while the port is closed); a tick offered before
// it is due is dropped, one offered late runs, and a timer that fell more
// than an interval behind starts again an interval after that tick. Ticks a
// front end queued while it was held (a modal box, a slow machine) never
// run back to back, and the job's phases stay on the sequencer's grid.
class timer_driver {
public:
    // How ticks are offered, all three each time: by a periodic timer at
    // the engine's interval (which may fire a millisecond early: that
    // counts as on time), or by a loop that sleeps until the next is due.
    enum class offered { by_one_timer, by_one_loop };
    // `engine_ticks` (the trace's tick count) goes up before each engine
    // tick runs, so that its frames carry that tick.
    timer_driver(main_form& f, std::uint64_t& engine_ticks, offered how)
        : f_(f), engine_ticks_(engine_ticks), how_(how) {}
    static constexpr int timers = 3;
    // Timer1, Timer2, Timer3.
    control& timer(int index);
    // Every timer due an interval from `now_ms` (a front end that starts
    // its clock); a timer offered first without it starts at once.
    void start(std::int64_t now_ms);
    // A tick of `index` at `now_ms`: runs it behind the barrier when it is
    // due and the timer is enabled. True when it ran.
    bool offer(int index, std::int64_t now_ms);
    // After a control's event at `now_ms`: a job it began has its phases a
    // whole sequencer interval apart from this moment on.
    void after_event(std::int64_t now_ms);
    // When the next of the three is due (a loop sleeps until then).
    std::int64_t next_due() const;

private:
    std::int64_t interval(int index) const;
    main_form& f_;
    std::uint64_t& engine_ticks_;
    offered how_;
    std::int64_t due_[timers] = {}, last_[timers] = {};
    bool started_ = false;
    bool job_seen_ = false;
};

struct rect {
    int x, y, width, height;
};
// Whether the control shows: visible, or hidden at design time and shown by
// the service view.
bool shown(const control& c, bool service_view);
// Where it stands: a job button hidden in the operator's area moves to its
// service row while the service view is on.
rect place(const control& c, bool service_view);
// The block dialog: its client area, and where a control of it stands.
inline constexpr int block_dialog_width = 4500 / twips_per_pixel, block_dialog_height = 2550 / twips_per_pixel;
rect dialog_place(const control& c);
// Timer1's interval now: its own while the port is open, else the idle one.
int engine_interval(const main_form& f);
// The busy picture a control is (1 for "Image1"), or 0 for none.
int picture_number(const control& c);
// The pass a progress line counts: "WRITE", "VERIFY" or "READ".
const char* pass_name(main_form::page_progress::kind k);

// The line's time for one page of each kind: every row of the page's
// conversation acts on the engine tick after its answer is complete on the
// line (10 bits a byte at 57600 baud).
double page_time_ms(main_form::page_progress::kind what, int engine_interval_ms);

// The progress line of the pass under way, timed by the front end's clock:
// "WRITE  PAGES 12/130  0:05 ELAPSED  0:19 LEFT". The time left is the
// protocol's: the pages still to move in this pass and in the job's later
// passes at their kind's page time, each pass starting on the sequencer's
// tick after the one before ends, then the job's closing phases. A writer
// slower than its line stretches the page times by what this pass has
// shown. Once the operation ends the figures stay as they were and the
// clock stops.
class progress_line {
public:
    // Takes the form's figures at `now_ms` (any steady clock).
    void update(const main_form& f, std::int64_t now_ms);
    const std::string& text() const { return text_; }
    bool running() const { return running_; }
    // The time left as last estimated; negative when none is shown.
    std::int64_t left_ms() const { return left_ms_; }

private:
    std::int64_t estimate_left(const main_form& f, std::int64_t now_ms) const;
    std::uint32_t pass_ = 0;
    std::int64_t started_ = 0, elapsed_ = 0, left_ms_ = -1;
    int done_ = 0;              // the pages this pass had moved when last seen
    std::int64_t done_ms_ = 0;  // and how long into the pass the last of them took
    bool running_ = false;
    std::string text_;
};

// The service view's trace as a window shows it: only the lines added
// since the view last took them, at most once a sequencer phase (a job
// moving frames every tick costs the view two appends a second, not a
// rebuild a tick), the view held to at most twice `trace_view_lines`.
inline constexpr std::int64_t trace_view_period_ms = 500;
// A frame's line in the view is cut after this many characters (a page's
// hex runs to 800); notes stay whole, and the saved trace keeps every byte.
inline constexpr std::size_t trace_view_columns = 120;
class trace_feed {
public:
    struct update {
        bool replace = false;  // the view's text is `text` (else `text` is appended)
        std::string text;      // whole lines, each ending in "\r\n"
    };
    // What the view takes at `now_ms`; nothing (no text, no replace) when
    // no line is new or it is not yet time. `restart` makes the next one
    // replace the view (the view was shown again, say).
    update take(const traced_port& trace, std::int64_t now_ms);
    void restart() { shown_ = 0, in_view_ = 0, last_ = -trace_view_period_ms; }

private:
    std::uint64_t shown_ = 0;  // the newest line the view holds
    std::size_t in_view_ = 0;
    std::int64_t last_ = -trace_view_period_ms;
};

// The window's title: the tool and its port (several windows on one bench
// tell their writers apart), then the pass of a job under way as the
// progress line shows it, or after a failure its status (the reason is in
// the failure's detail, where it can be read whole).
std::string window_title(const main_form& f, const progress_line& p);

// Under the status line of the operator's view, after a failure until the
// next start: what happened, to what, what stands and what to do, in the
// words the command line prints; empty otherwise.
std::string failure_detail(const main_form& f);

// The reason behind "PORT OPEN ERROR" as the operator should see it (a
// tooltip, a title), or empty when the status is another.
std::string status_reason(const main_form& f);

}  // namespace torvela
