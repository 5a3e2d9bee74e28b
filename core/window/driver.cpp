#include "window/driver.hpp"

#include <cstdio>
#include <system_error>

#include "platform/disk_files.hpp"

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
    Form_Unload(f_);
}

void front_driver::event(control& c, control_event e, std::int64_t now_ms) {
    // The widget shows what the operator set: a handler that puts the old
    // text or value back makes it draw that again.
    for (drawn& d : drawn_)
        if (d.c == &c) d.caption = c.caption, d.value = c.value;
    fire(f_, c, e);
    timers_.after_event(now_ms);
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

const progress_line& front_driver::progress(std::int64_t now_ms) {
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
    for (drawn& d : drawn_) {
        const control& c = *d.c;
        unsigned parts = 0;
        auto part = [&](redraw_part p, bool differs) {
            if (differs || d.fresh) parts |= static_cast<unsigned>(p);
        };
        const bool shows = shown(c, service_view_);
        const rect at = place(c, service_view_);
        part(redraw_part::caption, d.caption != c.caption || d.items != c.items.size());
        part(redraw_part::value, d.value != c.value);
        part(redraw_part::shown, d.shown != shows);
        part(redraw_part::enabled, d.enabled != c.enabled);
        part(redraw_part::items, d.items != c.items.size());
        part(redraw_part::place, d.at != at);
        if (parts != 0) r.controls.push_back({d.c, parts, shows, at});
        d = {d.c, c.caption, c.value, c.items.size(), shows, c.enabled, at, false};
    }
    take_status();
    progress(now_ms);
    r.title = changed(title_, window_title(f_, progress_));
    r.status_tip = changed(tip_, status_reason(f_));
    if (service_view_) {
        r.progress = changed(progress_text_, progress_.text());
        r.trace = feed_.take(trace_, now_ms);
    }
    return r;
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

std::string first_folder(const std::vector<std::string>& candidates) {
    for (const std::string& folder : candidates) {
        std::error_code ec;
        if (!folder.empty() && std::filesystem::is_directory(path_from_utf8(folder), ec)) return folder;
    }
    return {};
}

std::string trace_not_saved(const std::string& path) {
    return path + " could not be written (a full disk, or a folder you may not write to); the trace is still "
                  "here: choose another file.";
}

std::vector<shape> picture_shapes(int n, rect r) {
    using k = shape::kind;
    constexpr std::uint32_t black = 0x000000, grey = 0x282828;
    std::vector<shape> s;
    if (n >= 1 && n <= 4) {
        // One quarter filled, turning clockwise from the top.
        const rect disc{r.x + 1, r.y + 1, r.width - 2, r.height - 2};
        s.push_back({k::ellipse, disc, grey, 0xE6E6E6});
        s.push_back({k::pie, disc, grey, 0x145AC8, 1, 90 - 90 * (n - 1), -90});
    } else if ((n >= 5 && n <= 9) || (n >= 12 && n <= 16)) {
        // Chevrons filling from the PC downwards, or from the writer upwards.
        const bool down = n <= 9;
        const int count = down ? n - 5 : n - 12, h = r.height / 5, cx = r.x + r.width / 2;
        const int left = r.x + 2, right = r.x + r.width - 3;
        for (int i = 0; i < count; ++i) {
            const int y = down ? r.y + 2 + i * h : r.y + r.height - 3 - i * h;
            const int tip = down ? y + h - 2 : y - h + 2;
            s.push_back({k::line, {left, y, cx - left, tip - y}, 0xC83C14, no_fill, 2});
            s.push_back({k::line, {right, y, cx - right, tip - y}, 0xC83C14, no_fill, 2});
        }
    } else if (n == 10) {
        // The PC: a screen on a stand.
        const rect screen{r.x + 2, r.y + 1, r.width - 4, r.height * 2 / 3};
        s.push_back({k::box, screen, black, 0xD2D7E1});
        s.push_back({k::box, {screen.x + 3, screen.y + 3, screen.width - 6, screen.height - 6}, black, 0x3C6EAA});
        s.push_back({k::box, {r.x + 6, r.y + r.height - 1 - r.height / 4, r.width - 12, r.height / 4 - 1}, black,
                     0xA0A0A0});
    } else if (n == 11) {
        // The writer: a box with its lamp lit.
        const int cy = r.y + r.height / 2;
        s.push_back({k::rounded_box, r, black, 0x5A5A5F});
        s.push_back({k::ellipse, {r.x + 3, cy - 2, 4, 4}, black, 0x1EC83C});
        s.push_back({k::line, {r.x + 12, cy, r.width - 16, 0}, 0xC8C8C8, no_fill});
    }
    return s;
}

}  // namespace torvela
