#include "harness.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <cmath>

#include "console/status_texts.hpp"
#include "engine/engine.hpp"

namespace writer_sim {

bool sim_port::PortOpen(bool open) {
    if (!open) {
        open_ = false;
        return true;
    }
    if (open_) return true;
    if (lost) return false;
    if (std::find(present_ports.begin(), present_ports.end(), comm_port) == present_ports.end())
        return false;
    open_ = true;
    ++opens;
    rx_buffer.clear();
    return true;
}

int sim_port::InBufferCount() {
    if (lost) return -1;
    line_.advance_to(line_.now_us);
    return static_cast<int>(rx_buffer.size()) + phantom_bytes;
}

std::string sim_port::Input() {
    std::string all;
    all.swap(rx_buffer);
    return all;
}

bool sim_port::Output(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        ++sends_on_closed_port;
        return false;
    }
    if (lost) return false;
    if (throw_at_send > 0 && --throw_at_send == 0) throw std::runtime_error("the serial driver failed");
    line_.send_to_writer(bytes);
    return true;
}

bool scripted_box::yes_no(std::string_view prompt, std::string_view title) {
    asked.push_back(std::string(title) + "|" + std::string(prompt));
    if (while_open) while_open();
    if (answers.empty()) return true;
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

std::string scripted_dialogs::open_file(std::string_view filter) {
    filters.emplace_back(filter);
    if (files.empty()) return {};
    std::string p = files.front();
    files.pop_front();
    return p;
}

void scripted_dialogs::show_block_form(torvela::main_form& f, torvela::block_form& dlg) {
    if (on_block_form) on_block_form(f, dlg);
}

void virtual_line::send_to_writer(std::span<const std::uint8_t> bytes) {
    log.push_back({now_us, true, {bytes.begin(), bytes.end()}});
    double t = std::max(tx_free_us_, static_cast<double>(now_us));
    for (std::uint8_t b : bytes) {
        t += byte_time_us;
        to_writer_.push_back({t, b});
    }
    tx_free_us_ = t;
}

void virtual_line::deliver_reply(const reply& r, double ready_us) {
    if (r.bytes.empty()) return;
    double t = std::max(rx_free_us_, ready_us);
    for (std::uint8_t b : r.bytes) {
        t += byte_time_us;
        to_tool_.push_back({t, b});
    }
    rx_free_us_ = t;
}

void virtual_line::advance_to(std::uint64_t t) {
    const double now = static_cast<double>(t);
    // Bytes reach the writer and the tool in time order; a reply the writer
    // makes is queued behind whatever it is already sending.
    for (;;) {
        const bool w = !to_writer_.empty() && to_writer_.front().arrive_us <= now;
        const bool p = !to_tool_.empty() && to_tool_.front().arrive_us <= now;
        if (!w && !p) break;
        if (w && (!p || to_writer_.front().arrive_us <= to_tool_.front().arrive_us)) {
            const in_flight b = to_writer_.front();
            to_writer_.pop_front();
            received_by_writer.push_back(b.byte);
            const double quiet = b.arrive_us - std::max(last_to_writer_us_, rx_free_us_);
            writer_.line_quiet(quiet > 0 ? static_cast<std::uint64_t>(quiet) : 0);
            last_to_writer_us_ = b.arrive_us;
            std::vector<reply> replies;
            writer_.receive(b.byte, replies);
            double ready = b.arrive_us;
            for (const reply& r : replies) {
                ready += static_cast<double>(r.delay_us);
                deliver_reply(r, ready);
                ready = rx_free_us_;
            }
        } else {
            const in_flight b = to_tool_.front();
            to_tool_.pop_front();
            if (port_ && port_->open_ && !port_->lost) {
                port_->rx_buffer.push_back(static_cast<char>(b.byte));
                // Bytes received back to back form one record.
                if (!log.empty() && !log.back().to_writer)
                    log.back().bytes.push_back(b.byte);
                else
                    log.push_back({static_cast<std::uint64_t>(std::ceil(b.arrive_us)), false,
                                   {b.byte}});
            }
        }
    }
    now_us = t;
}

void virtual_line::drop() {
    if (port_) {
        port_->lost = true;
        port_->open_ = false;
    }
    to_tool_.clear();
}

rig::rig() {
    line.attach(port);
    sim.on_drop = [this] { line.drop(); };
    form = std::make_unique<torvela::main_form>(traced, box, dlg, files);
    // The timers as every front end runs them, on the line's virtual clock.
    driver = std::make_unique<torvela::front_driver>(*form, traced, torvela::timer_driver::offered::by_one_loop);
    driver->load(0);
    driver->take_status();
}

void rig::step_event() {
    // Whole milliseconds, as the front ends' clocks count.
    const auto due = static_cast<std::uint64_t>(std::max<std::int64_t>(0, driver->next_due())) * 1000;
    line.advance_to(std::max(line.now_us, due));
    driver->tick(static_cast<std::int64_t>(line.now_us / 1000));
    driver->take_status();
    if (after_event) after_event(*this);
}

bool rig::run_until(const std::function<bool()>& done, std::uint64_t limit_us) {
    const std::uint64_t end = line.now_us + limit_us;
    std::uint64_t at = line.now_us, still = 0;
    while (!done()) {
        if (line.now_us >= end) return false;
        step_event();
        // Time that stands still is a driver naming a moment already past
        // as its next: the run fails here rather than spinning for ever.
        if (line.now_us != at) {
            at = line.now_us, still = 0;
        } else if (++still > 100'000) {
            std::fprintf(stderr, "virtual time stands still at %llu us\n", static_cast<unsigned long long>(at));
            return false;
        }
    }
    return true;
}

bool rig::run_job(std::uint64_t limit_us) {
    if (!run_until([this] { return form->job_no == 0 && form->engine_step == 0; }, limit_us)) return false;
    // Every operation ends with a text of the status table, with its outcome.
    const torvela::main_form& f = *form;
    if (f.last_outcome == torvela::outcome::none || torvela::find_status(f.Label9.caption, f.last_outcome)) return true;
    std::fprintf(stderr, "the status \"%s\" (%s) is not in the status table\n", f.Label9.caption.c_str(),
                 torvela::outcome_name(f.last_outcome));
    return false;
}

void rig::run_for(std::uint64_t us) {
    const std::uint64_t end = line.now_us + us;
    run_until([&] { return line.now_us >= end; }, us + 1'000'000);
}

}  // namespace writer_sim
