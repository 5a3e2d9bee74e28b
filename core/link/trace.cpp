#include "link/trace.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdint>

#include "platform/local_time.hpp"

namespace torvela {

std::string hex(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    return hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string trace_text(const trace_line& t) {
    const char* mark = t.what == trace_line::kind::sent ? "> " : t.what == trace_line::kind::received ? "< " : "# ";
    return mark + (t.what == trace_line::kind::note ? t.bytes : hex(t.bytes));
}

namespace {


}  // namespace

std::string format_trace_line(const trace_line& t) {
    const std::tm local = local_time(static_cast<std::time_t>(t.clock_ms / 1000));
    char head[48];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d %8llu ", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(t.clock_ms % 1000), static_cast<unsigned long long>(t.tick));
    return head + trace_text(t);
}

bool traced_port::PortOpen(bool open) {
    const bool was_open = inner_.PortOpen();
    const bool result = inner_.PortOpen(open);
    if (open && !result) {
        note("COM" + std::to_string(port_) + " (" + inner_.device() + ") cannot be opened: " + inner_.last_error());
    } else if (open && !was_open) {
        note("COM" + std::to_string(port_) + " (" + inner_.device() + ") opened");
    } else if (!open && was_open) {
        note("port closed");
    }
    return result;
}

int traced_port::InBufferCount() {
    const int n = inner_.InBufferCount();
    if (n < 0 && !inner_.last_error().empty()) note("port lost: " + inner_.last_error());
    return n;
}

std::string traced_port::Input() {
    std::string all = inner_.Input();
    record(trace_line::kind::received, all);
    return all;
}

bool traced_port::Output(std::span<const std::uint8_t> bytes) {
    record(trace_line::kind::sent, std::string(bytes.begin(), bytes.end()));
    const bool ok = inner_.Output(bytes);
    if (!ok) note("port lost: " + inner_.last_error());
    return ok;
}

void traced_port::note(std::string text, note_kind kind) {
    if (kind == note_kind::job_begins) job_.clear();
    record(trace_line::kind::note, std::move(text));
    if (kind == note_kind::job_begins) job_.push_back(recent_.back());
}

std::string traced_port::document(std::string_view version, std::string_view chosen_file) const {
    const std::tm local = local_time(std::time(nullptr));
    char saved[32];
    std::strftime(saved, sizeof saved, "%Y-%m-%d %H:%M:%S", &local);
    std::string out = "TORVELA " + std::string(version) + " trace\n";
    out += "saved " + std::string(saved) + "\n";
    out += "port COM" + std::to_string(port_) + " (" + (inner_.device().empty() ? "not opened" : inner_.device()) +
           ")\n";
    out += "file " + (chosen_file.empty() ? std::string("none chosen") : std::string(chosen_file)) + "\n";
    const std::uint64_t first = job_.empty() ? UINT64_MAX : job_.front().seq;
    const std::uint64_t last = job_.empty() ? 0 : job_.back().seq;
    for (const trace_line& t : recent_)
        if (t.seq < first) out += format_trace_line(t) + "\n";
    for (const trace_line& t : job_) out += format_trace_line(t) + "\n";
    for (const trace_line& t : recent_)
        if (t.seq > last && t.seq >= first) out += format_trace_line(t) + "\n";
    return out;
}

void traced_port::record(trace_line::kind what, std::string bytes) {
    if (bytes.empty()) return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    trace_line line{++seq_, tick, std::chrono::duration_cast<std::chrono::milliseconds>(now).count(), what,
                    std::move(bytes)};
    if (!job_.empty()) job_.push_back(line);
    recent_.push_back(std::move(line));
    while (recent_.size() > recent_limit) recent_.pop_front();
    if (on_line) on_line(recent_.back());
}

}  // namespace torvela
