// The trace of the line: every frame sent and received and every note about
// the port, recorded around whatever serial port the front end hands in.
// The last lines are kept for a view.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace torvela {

// Bytes as the trace shows them: "F5 F5".
std::string hex(std::string_view bytes);
std::string hex(std::span<const std::uint8_t> bytes);

struct trace_line {
    std::uint64_t seq;      // the line's number since the start
    std::uint64_t tick;     // Timer1 ticks since the start
    std::int64_t clock_ms;  // wall-clock time, milliseconds since 1970
    enum class kind : std::uint8_t { sent, received, note } what;
    std::string bytes;  // the frame, or the text of a note
};

// What a line says: "> F5 F5", "< D0 D0", "# port closed".
std::string trace_text(const trace_line& t);
// One line as text, with its time and tick: "HH:MM:SS.mmm    tick > F5 F5".
std::string format_trace_line(const trace_line& t);

class traced_port final : public serial_port {
public:
    explicit traced_port(serial_port& inner) : inner_(inner) {}

    void CommPort(int n) override {
        port_ = n;
        inner_.CommPort(n);
    }
    void Settings(std::string_view s) override { inner_.Settings(s); }
    void InputLen(int len) override { inner_.InputLen(len); }
    void InputMode(int mode) override { inner_.InputMode(mode); }
    bool PortOpen() const override { return inner_.PortOpen(); }
    bool PortOpen(bool open) override;
    int InBufferCount() override;
    std::string Input() override;
    bool Output(std::span<const std::uint8_t> bytes) override;
    std::string last_error() const override { return inner_.last_error(); }
    std::string device() const override { return inner_.device(); }
    std::string open_advice() const override { return inner_.open_advice(); }
    std::string named_device() const override { return inner_.named_device(); }

    void note(std::string text, note_kind kind = note_kind::plain) override;

    std::uint64_t tick = 0;
    // The last lines, for a view.
    static constexpr std::size_t recent_limit = 2000;
    const std::deque<trace_line>& recent() const { return recent_; }
    // The number of the newest line (lines are numbered from 1); 0 before
    // the first.
    std::uint64_t newest() const { return seq_; }
    // Every line of the last job begun, however long it ran; the lines
    // after its end too, until the next job begins.
    const std::vector<trace_line>& job_lines() const { return job_; }
    // The trace to keep in a file: a header naming the tool `version`, the
    // date and time it was saved, the port and its device and the file the
    // operator chose (`chosen_file`), then the recent lines before the last
    // job, the whole of that job, and the recent lines since.
    std::string document(std::string_view version, std::string_view chosen_file = {}) const;
    // Called for every new line.
    std::function<void(const trace_line&)> on_line;

private:
    void record(trace_line::kind what, std::string bytes);
    serial_port& inner_;
    int port_ = 1;
    std::uint64_t seq_ = 0;
    std::deque<trace_line> recent_;
    std::vector<trace_line> job_;
};

}  // namespace torvela
