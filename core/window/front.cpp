#include "window/front.hpp"

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <span>
#include <tuple>

#include "console/status_texts.hpp"
#include "engine/engine.hpp"
#include "link/link.hpp"

namespace torvela {

void fire(main_form& f, control& c, control_event e) {
    const handler h = e == control_event::click ? c.click : c.change;
    if (!h) return;
    f.pressed = c.caption.empty() ? c.name : c.caption;
    guarded(f, h);
}

void tick(main_form& f, control& timer) {
    // Timer1 and Timer2 guard themselves.
    if (timer.click) guarded(f, timer.click);
}

rect dialog_place(const control& c) {
    return {c.left / twips_per_pixel, c.top / twips_per_pixel, c.width / twips_per_pixel, c.height / twips_per_pixel};
}

bool shown(const control& c, bool service_view) {
    const bool service = c.top >= client_height * twips_per_pixel || c.service_top != 0;
    return c.visible || (service_view && service);
}

rect place(const control& c, bool service_view) {
    if (service_view && c.service_top != 0)
        return {c.service_left / twips_per_pixel, c.service_top / twips_per_pixel, service_button_width,
                service_button_height};
    return {c.left / twips_per_pixel, c.top / twips_per_pixel, std::max(1, c.width / twips_per_pixel),
            std::max(1, c.height / twips_per_pixel)};
}

int picture_number(const control& c) {
    if (c.kind != control_kind::image || c.name.rfind("Image", 0) != 0) return 0;
    return std::atoi(c.name.c_str() + 5);
}

const char* pass_name(main_form::page_progress::kind k) {
    switch (k) {
    case main_form::page_progress::kind::write: return "WRITE";
    case main_form::page_progress::kind::verify: return "VERIFY";
    case main_form::page_progress::kind::read: return "READ";
    }
    return "";
}

int engine_interval(const main_form& f) { return f.MSComm1.PortOpen() ? f.Timer1.interval : idle_engine_interval; }

control& timer_driver::timer(int index) { return index == 0 ? f_.Timer1 : index == 1 ? f_.Timer2 : f_.Timer3; }

std::int64_t timer_driver::interval(int index) const {
    return std::max(1, index == 0 ? engine_interval(f_) : (index == 1 ? f_.Timer2 : f_.Timer3).interval);
}

void timer_driver::start(std::int64_t now_ms) {
    started_ = true;
    for (int i = 0; i < timers; ++i) {
        last_[i] = now_ms;
        due_[i] = now_ms + interval(i);
    }
}

bool timer_driver::offer(int index, std::int64_t now_ms) {
    if (!started_) start(now_ms - interval(index));
    after_event(now_ms);
    const std::int64_t every = interval(index);
    std::int64_t& due = due_[index];
    // The port just opened: the engine is due at its own interval again.
    if (index == 0) due = std::min(due, last_[index] + every);
    if (now_ms < due - (how_ == offered::by_one_timer ? 1 : 0)) return false;
    due += every;
    if (due <= now_ms) due = now_ms + every;
    last_[index] = now_ms;
    control& t = timer(index);
    if (!t.enabled) return false;
    if (index == 0) ++engine_ticks_;
    tick(f_, t);
    // A job's first phase the engine started once the line was quiet: the
    // phases after it keep a whole sequencer interval apart.
    if (f_.sequencer_from_now) {
        f_.sequencer_from_now = false;
        due_[1] = now_ms + interval(1);
    }
    return true;
}

void timer_driver::after_event(std::int64_t now_ms) {
    // A job pressed: its phases are a whole sequencer interval apart from
    // the press on, as from the command line.
    const bool job = f_.job_no != 0;
    if (job && !job_seen_) due_[1] = now_ms + interval(1);
    job_seen_ = job;
}

std::int64_t timer_driver::next_due() const {
    // The engine sooner when the port has just opened (see `offer`); the
    // others when due, and no sooner: a sequencer held back to the press's
    // grid would otherwise be offered, and refused, until then.
    std::int64_t next = std::min(due_[0], last_[0] + interval(0));
    for (int i = 1; i < timers; ++i) next = std::min(next, due_[i]);
    return next;
}

namespace {

std::string clock_text(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    return buf;
}

}  // namespace

double page_time_ms(main_form::page_progress::kind what, int engine_interval_ms) {
    using kind = main_form::page_progress::kind;
    constexpr int frame = static_cast<int>(std::tuple_size_v<decltype(main_form::address_frame)>);
    // The bytes each row waits on: the command and its echo, the address
    // frame and the verdict, the address frame again and the page (a read
    // or a verify, then a row that asks for the next page); the command and
    // its echo, the address frame, the page and the verdict (a write).
    static constexpr int read_rows[] = {ack_len + ack_len, frame + ack_len, frame + page_len, 0};
    static constexpr int write_rows[] = {ack_len + ack_len, frame + page_len + ack_len};
    const std::span<const int> rows = what == kind::write ? std::span<const int>(write_rows)
                                                          : std::span<const int>(read_rows);
    constexpr double byte_ms = 10.0 * 1000.0 / 57600.0;
    const double tick = std::max(1, engine_interval_ms);
    double ms = 0;
    for (const int bytes : rows) ms += std::max(1.0, std::ceil(bytes * byte_ms / tick)) * tick;
    return ms;
}

std::int64_t progress_line::estimate_left(const main_form& f, std::int64_t now_ms) const {
    const auto& p = f.progress;
    const int tick = f.Timer1.interval, interval = std::max(1, f.Timer2.interval);
    // A writer slower than its line, or a pass that asks for its next page
    // without a row of its own (a compare): what this pass has shown, once
    // a few pages have moved.
    constexpr int pages_to_judge = 4;
    const double line_ms = page_time_ms(p.what, tick);
    const double stretch =
        done_ >= pages_to_judge ? std::max(0.5, static_cast<double>(done_ms_) / (done_ * line_ms)) : 1.0;
    // The pass began on a sequencer tick; its later ticks follow at whole
    // intervals.
    auto next_tick = [&](double at) {
        return static_cast<double>(started_) + std::ceil((at - static_cast<double>(started_)) / interval) * interval;
    };
    // This pass's pages go on from when its last page was done.
    const double last_page = static_cast<double>(started_ + done_ms_);
    double end = std::max(static_cast<double>(now_ms), last_page + (p.total - p.done) * line_ms * stretch);
    for (const auto& later : p.later) end = next_tick(end) + later.pages * page_time_ms(later.what, tick) * stretch;
    end = next_tick(end) + static_cast<double>(p.closing_phases) * interval;
    return static_cast<std::int64_t>(end) - now_ms;
}

void progress_line::update(const main_form& f, std::int64_t now_ms) {
    const auto& p = f.progress;
    if (p.pass != pass_) {
        pass_ = p.pass;
        started_ = now_ms;
        done_ = 0, done_ms_ = 0;
    }
    // The operation goes on; its pass is timed until its last page.
    running_ = p.running && p.total > 0 && (f.engine_step != 0 || f.job_no != 0);
    if (running_ && p.done < p.total) elapsed_ = now_ms - started_;
    if (p.done != done_) done_ = p.done, done_ms_ = now_ms - started_;
    if (p.total == 0) {
        text_.clear();
        left_ms_ = -1;
        return;
    }
    text_ = std::string(pass_name(p.what)) + "  PAGES " + std::to_string(p.done) + "/" + std::to_string(p.total) +
            "  " + clock_text(elapsed_) + " ELAPSED";
    int pages_left = p.total - p.done;
    for (const auto& later : p.later) pages_left += later.pages;
    left_ms_ = running_ && pages_left > 0 ? estimate_left(f, now_ms) : -1;
    // Whole seconds, rounded up: "0:00 LEFT" never shows while work remains.
    // A target direct write ends with the target write, which takes as long
    // as the writer takes: the time left runs to its start.
    if (left_ms_ >= 0)
        text_ += "  " + clock_text((left_ms_ + 999) / 1000 * 1000) +
                 (f.job_no == 5 ? " LEFT BEFORE THE TARGET WRITE" : " LEFT");
}

trace_feed::update trace_feed::take(const traced_port& trace, std::int64_t now_ms) {
    update u;
    if (trace.newest() == shown_ || now_ms - last_ < trace_view_period_ms) return u;
    last_ = now_ms;
    const auto& lines = trace.recent();
    // New lines, as far as the view should hold them.
    const std::uint64_t fresh = trace.newest() - shown_;
    std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(fresh, lines.size()));
    count = std::min<std::size_t>(count, trace_view_lines);
    u.replace = shown_ == 0 || fresh > count || in_view_ + count > 2 * trace_view_lines;
    if (u.replace) {
        count = std::min<std::size_t>(lines.size(), trace_view_lines);
        in_view_ = 0;
    }
    for (std::size_t i = lines.size() - count; i < lines.size(); ++i) {
        std::string line = format_trace_line(lines[i]);
        if (lines[i].what != trace_line::kind::note && line.size() > trace_view_columns)
            line.replace(trace_view_columns, std::string::npos, " ...");
        u.text += line + "\r\n";
    }
    in_view_ += count;
    shown_ = trace.newest();
    return u;
}

std::string window_title(const main_form& f, const progress_line& p) {
    std::string title = "TORVELA - COM" + std::to_string(f.comm_port);
    if (p.running() && !p.text().empty()) return title + " - " + p.text();
    if (!failure_detail(f).empty()) return title + " - " + f.Label9.caption;
    return title;
}

std::string failure_detail(const main_form& f) {
    if (f.job_no != 0 || f.engine_step != 0) return {};
    const std::string note = failure_note(f);
    if (f.shop_note.empty()) return note;
    return note + (note.empty() ? "" : "; ") + f.shop_note;
}

std::string status_reason(const main_form& f) {
    if (f.Label9.caption != "PORT OPEN ERROR" || f.MSComm1.PortOpen()) return {};
    return "COM" + std::to_string(f.comm_port) + " (" + f.MSComm1.device() + "): " + f.MSComm1.last_error();
}

}  // namespace torvela
