#include "window/driver.hpp"

#include <cstdio>
#include <system_error>

#include "engine/engine.hpp"
#include "platform/disk_files.hpp"
#include "platform/job_history.hpp"

namespace torvela {

front_driver::front_driver(main_form& f, traced_port& trace, timer_driver::offered how)
    : f_(f), trace_(trace), timers_(f, trace.tick, how) {
    for (control* c : f.controls)
        if (c->kind != control_kind::timer) drawn_.push_back({c, {}, 0, 0, false, false, {}, true});
}

void front_driver::load(std::int64_t now_ms) {
    if (loaded_) return;
    loaded_ = true;
    Form_Load(f_);
    timers_.start(now_ms);
}

void front_driver::unload() {
    if (!loaded_ || unloaded_) return;
    unloaded_ = true;
    // A job the closing window stops ends as an interrupt does: port and
    // files closed, a save's new file removed, and recorded as it ended.
    if (f_.job_no != 0 || f_.engine_step != 0) abort_sequence(f_, outcome::interrupted, "INTERRUPTED", file1::close);
    Form_Unload(f_);
    settle_operation(f_);
}

void front_driver::event(control& c, control_event e, std::int64_t now_ms) {
    // The widget shows what the operator set: a handler that puts the old
    // text or value back makes it draw that again.
    for (drawn& d : drawn_)
        if (d.c == &c) d.caption = c.caption, d.value = c.value;
    fire(f_, c, e);
    timers_.after_event(now_ms);
    acted_ = true;
}

void front_driver::clicked(control& c, bool on, std::int64_t now_ms) {
    if (c.kind == control_kind::option && on)
        for (control* other : f_.controls)
            if (other->kind == control_kind::option) other->value = 0;
    c.value = on ? 1 : 0;
    event(c, control_event::click, now_ms);
}

void front_driver::picked(control& c, const std::string& item, std::int64_t now_ms) {
    c.caption = item;
    event(c, control_event::click, now_ms);
}

void front_driver::typed(control& c, const std::string& text, std::int64_t now_ms) {
    if (text == c.caption) return;
    c.caption = text;
    if (c.kind == control_kind::combo) event(c, control_event::change, now_ms);
}

bool front_driver::tick(std::int64_t now_ms) {
    bool ran = false;
    for (int i = 0; i < timer_driver::timers; ++i)
        if (timers_.offer(i, now_ms)) {
            ++ticks_run_[i];
            ran = true;
        }
    return ran;
}

void front_driver::set_service_view(bool on) {
    service_view_ = on;
    acted_ = true;
    jobs_listed_.reset();
    for (drawn& d : drawn_) d.fresh = true;
    feed_.restart();
    progress_text_.reset();
}

std::optional<std::string> front_driver::take_status() {
    // An empty status line is none; the same text after it is new again.
    const std::string& now = f_.Label9.caption;
    if (now == status_seen_) return std::nullopt;
    status_seen_ = now;
    if (now.empty()) return std::nullopt;
    status_history_.push_back(now);
    return now;
}

const progress_line& front_driver::advance_progress(std::int64_t now_ms) {
    progress_.update(f_, now_ms);
    return progress_;
}

namespace {

// `value` when it differs from what `last` says was drawn (and then it is).
std::optional<std::string> changed(std::optional<std::string>& last, std::string value) {
    if (last == value) return std::nullopt;
    last = value;
    return value;
}

bool operator!=(const rect& a, const rect& b) {
    return a.x != b.x || a.y != b.y || a.width != b.width || a.height != b.height;
}

}  // namespace

front_driver::redraw front_driver::refresh(std::int64_t now_ms) {
    redraw r;
    // The labels that follow the exchanges change every few milliseconds:
    // drawn at their period, where nobody can read them faster anyway.
    const bool captions_due = acted_ || now_ms - captions_at_ >= caption_period_ms;
    if (captions_due) captions_at_ = now_ms;
    acted_ = false;
    for (drawn& d : drawn_) {
        const control& c = *d.c;
        unsigned parts = 0;
        auto part = [&](redraw_part p, bool differs) {
            if (differs || d.fresh) parts |= static_cast<unsigned>(p);
        };
        const bool shows = shown(c, service_view_);
        const rect at = place(c, service_view_);
        const bool at_once = c.kind != control_kind::label || &c == &f_.Label9;
        const bool caption = (d.caption != c.caption || d.items != c.items.size()) && (captions_due || at_once);
        part(redraw_part::caption, caption);
        part(redraw_part::value, d.value != c.value);
        part(redraw_part::shown, d.shown != shows);
        part(redraw_part::enabled, d.enabled != c.enabled);
        part(redraw_part::items, d.items != c.items.size());
        part(redraw_part::place, d.at != at);
        if (parts != 0) r.controls.push_back({d.c, parts, shows, at});
        const bool caption_drawn = caption || d.fresh;
        d = {d.c, caption_drawn ? c.caption : d.caption, c.value, caption_drawn ? c.items.size() : d.items, shows, c.enabled, at, false};
    }
    take_status();
    advance_progress(now_ms);
    if (captions_due) r.title = changed(title_, window_title(f_, progress_));
    r.status_tip = changed(tip_, status_reason(f_));
    r.detail = changed(detail_, failure_detail(f_));
    if (service_view_) {
        if (captions_due) r.progress = changed(progress_text_, progress_.text());
        r.trace = feed_.take(trace_, now_ms);
        if (jobs_listed_ != f_.operation.recorded) {
            jobs_listed_ = f_.operation.recorded;
            r.jobs = recent_jobs(jobs_listed);
        }
    }
    return r;
}

std::string front_driver::kept_units_folder() const {
    return f_.history ? utf8_from_path(f_.history->units_folder()) : std::string();
}

std::vector<std::string> front_driver::recent_jobs(std::size_t count) const {
    std::vector<std::string> lines;
    if (!f_.history) return lines;
    const job_history::listing listed = f_.history->last(count);
    // A history the tool does not trust is not listed: the list says why.
    if (!listed.refused.empty()) {
        lines.push_back("THE JOB HISTORY IS NOT READ: " + listed.refused);
        return lines;
    }
    for (const job_record& r : listed.records) {
        const std::string time = r.time.size() >= 19 ? r.time.substr(11, 8) : r.time;
        const std::string file = r.file.substr(r.file.find_last_of("/\\") + 1);
        lines.push_back(time + "  " + r.operation + (file.empty() ? "" : "  " + file) + "  " + r.outcome);
    }
    return lines;
}

std::string front_driver::trace_text(std::size_t lines) const {
    const auto& recent = trace_.recent();
    std::string text;
    for (std::size_t i = recent.size() > lines ? recent.size() - lines : 0; i < recent.size(); ++i)
        text += (text.empty() ? "" : "\n") + format_trace_line(recent[i]);
    return text;
}

bool front_driver::save_trace(const std::string& path) const {
    // Never through a link or into a device; written through to the disk,
    // so that a full one fails here and not later.
    std::FILE* out = open_new_output(path_from_utf8(path));
    if (!out) return false;
    const std::string text = trace_.document(TORVELA_VERSION, f_.memory_file_path);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    return std::fclose(out) == 0 && written;
}

}  // namespace torvela
