// A virtual-time bench: the tool's main_form, the simulated writer on the
// other end of a modelled 57600-baud line, the three timers ticking on a
// virtual clock, and scripted answers for message boxes and dialogs. A job
// that takes tens of seconds runs in milliseconds.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/main_form.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"
#include "window/driver.hpp"
#include "writer.hpp"

namespace writer_sim {

// 10 bits a byte (start, 8 data, stop) at 57600 baud.
inline constexpr double byte_time_us = 10.0 * 1e6 / 57600.0;

struct frame_record {
    std::uint64_t time_us;
    bool to_writer;  // false: writer to tool
    std::vector<std::uint8_t> bytes;
};

class virtual_line;

// The tool's end of the line.
class sim_port final : public torvela::serial_port {
public:
    explicit sim_port(virtual_line& line) : line_(line) {}
    void CommPort(int port) override { comm_port = port; }
    void Settings(std::string_view s) override { settings = std::string(s); }
    void InputLen(int len) override { input_len = len; }
    void InputMode(int mode) override { input_mode = mode; }
    bool PortOpen() const override { return open_; }
    bool PortOpen(bool open) override;
    int InBufferCount() override;
    std::string Input() override;
    bool Output(std::span<const std::uint8_t> bytes) override;

    // Ports that exist; opening any other fails.
    std::vector<int> present_ports = {1};
    int comm_port = 0;
    std::string settings;
    int input_len = -1, input_mode = -1;
    int opens = 0;
    // Output attempted while the port was closed (must stay 0).
    int sends_on_closed_port = 0;
    // The line is dead: the port reads closed and cannot be opened again.
    bool lost = false;
    // The platform fails in a way the tool does not expect: the send with
    // this number (1 = the next) throws instead of sending; 0 never.
    int throw_at_send = 0;
    // Bytes the driver counts as waiting but never delivers.
    int phantom_bytes = 0;

    std::string rx_buffer;

private:
    friend class virtual_line;
    virtual_line& line_;
    bool open_ = false;
};

class scripted_box final : public torvela::message_box {
public:
    bool yes_no(std::string_view prompt, std::string_view title) override;
    void inform(std::string_view text, std::string_view title) override {
        told.push_back(std::string(title) + "|" + std::string(text));
    }
    std::vector<std::string> told;  // "title|text" of the OK boxes
    std::deque<bool> answers;  // empty: Yes
    std::vector<std::string> asked;  // "title|prompt"
    std::function<void()> while_open;  // runs while the box is "open"
};

class scripted_dialogs final : public torvela::dialogs {
public:
    std::string open_file(std::string_view filter) override;
    void show_block_form(torvela::main_form& f, torvela::block_form& dlg) override;
    std::deque<std::string> files;  // empty: cancelled
    std::vector<std::string> filters;
    std::function<void(torvela::main_form&, torvela::block_form&)> on_block_form;
};

// The modelled line and the clock.
class virtual_line {
public:
    explicit virtual_line(writer& w) : writer_(w) {}
    std::uint64_t now_us = 0;
    std::vector<frame_record> log;
    // Bytes on their way: arrival time of each byte.
    void send_to_writer(std::span<const std::uint8_t> bytes);
    void advance_to(std::uint64_t t);
    void attach(sim_port& p) { port_ = &p; }
    // Drops the line: the port reads closed from now on.
    void drop();
    // Bytes the writer has been given, in order.
    std::vector<std::uint8_t> received_by_writer;

private:
    struct in_flight {
        double arrive_us;
        std::uint8_t byte;
    };
    writer& writer_;
    sim_port* port_ = nullptr;
    std::deque<in_flight> to_writer_;
    std::deque<in_flight> to_tool_;
    double tx_free_us_ = 0;  // when the tool's transmitter is free again
    double rx_free_us_ = 0;  // when the writer's transmitter is free again
    double last_to_writer_us_ = 0;  // when the last byte reached the writer
    void deliver_reply(const reply& r, double ready_us);
};

struct rig {
    rig();
    writer sim;
    virtual_line line{sim};
    sim_port port{line};
    // The form talks through the trace, as in every front end.
    torvela::traced_port traced{port};
    scripted_box box;
    scripted_dialogs dlg;
    torvela::std_seq_files files;
    std::unique_ptr<torvela::main_form> form;

    std::unique_ptr<torvela::front_driver> driver;

    // Runs the timers until `done` holds or `limit_us` of virtual time passed;
    // returns whether `done` held.
    bool run_until(const std::function<bool()>& done, std::uint64_t limit_us);
    // Runs until no job and no exchange is left (or the limit).
    bool run_job(std::uint64_t limit_us = 600'000'000);
    void run_for(std::uint64_t us);

    // Label9 each time it changed, in order, as the driver keeps it.
    const std::vector<std::string>& status_history() const { return driver->status_history(); }
    // Called after every timer event.
    std::function<void(rig&)> after_event;

private:
    void step_event();
};

}  // namespace writer_sim
