#include "link/link.hpp"

#include "link/protocol.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

void Combo2_Click(main_form& f) {
    for (int n = 1; n <= 16; ++n) {
        if (f.Combo2.caption == "COM" + std::to_string(n)) {
            f.comm_port = static_cast<std::int16_t>(n);
            return;
        }
    }
}

void Combo2_Change(main_form& f) { Combo2_Click(f); }

std::string port_named(const main_form& f) {
    if (const std::string named = f.MSComm1.named_device(); !named.empty()) return named;
    const std::string device = f.MSComm1.device();
    return "COM" + std::to_string(f.comm_port) + (device.empty() ? std::string() : " (" + device + ")");
}

bool open_port(main_form& f) {
    f.detail.clear();
    f.engine_step = 0;
    f.last_step = 0;  // the first tick reloads the watchdog
    f.MSComm1.Settings(port_settings);
    f.MSComm1.InputLen(0);
    f.MSComm1.InputMode(1);
    f.MSComm1.CommPort(f.comm_port);
    if (!f.MSComm1.PortOpen(true) || !f.MSComm1.PortOpen()) {
        const std::string why = f.MSComm1.last_error();
        f.detail = port_named(f) + " cannot be opened: " + why;
        if (const std::string advice = f.MSComm1.open_advice(); !advice.empty())
            f.detail += "; " + advice;
        else if (why.find("in use") != std::string::npos)
            f.detail += "; close the other program on this port, or choose another port";
        else
            f.detail += "; choose the port the writer is on";
        f.port_held = false;
        f.Label9.caption = "PORT OPEN ERROR";
        f.last_outcome = outcome::no_port;
        ++f.outcomes;
        f.Combo1.caption = stop_text;
        return false;
    }
    f.port_held = true;
    f.Combo1.caption = keep_text;
    return true;
}

void command1_Click(main_form& f) {
    if (f.MSComm1.PortOpen()) return;
    open_port(f);
}

bool open_port_prologue(main_form& f) {
    if (f.MSComm1.PortOpen()) return true;
    return open_port(f);
}

void close_port(main_form& f) {
    if (f.MSComm1.PortOpen()) f.MSComm1.PortOpen(false);
    if (f.port_held || f.Combo1.caption == keep_text) f.Combo1.caption = stop_text;
    f.port_held = false;
}

void Command3_Click(main_form& f) {
    if (!f.MSComm1.PortOpen()) return;
    close_port(f);
    f.files.close(1);
    f.files.close(2);
}

void Combo1_Click(main_form& f) {
    if (f.Combo1.caption == keep_text)
        command1_Click(f);
    else if (f.Combo1.caption == stop_text)
        Command3_Click(f);
}

void send_bytes(main_form& f, std::span<const std::uint8_t> bytes) {
    if (!f.MSComm1.PortOpen()) return;
    if (!f.MSComm1.Output(bytes)) f.MSComm1.PortOpen(false);  // port_held stays: lost
}

namespace {

// A command that erases, writes or locks, noted as it goes: whether the
// writer changed, and how (a block erase by the check box of its block).
void note_change(main_form& f, std::uint8_t code, int check = 0) {
    using namespace protocol;
    if (code == erase_all || code == block_erase || code == page_write || code == lock_set ||
        code == lock_enable || code == target_write)
        f.writer_changed = true;
    if (code == erase_all) f.changes.erase_all = true;
    if (code == block_erase && check != 0) f.changes.blocks.push_back(check);
    if (code == page_write) ++(f.changes.control_pass ? f.changes.control_pages : f.changes.pages);
    if (code == lock_set || code == lock_enable) f.changes.locks = true;
    if (code == target_write) f.changes.target = true;
}

}  // namespace

void send_command(main_form& f, std::uint8_t code) {
    note_change(f, code);
    f.tx_frame = {code, code};
    send_bytes(f, f.tx_frame);
}

bool reply_read(main_form& f, int threshold) {
    int waiting = f.MSComm1.InBufferCount();
    if (waiting < 0) {
        f.MSComm1.PortOpen(false);  // the line is gone
        return false;
    }
    if (waiting < threshold) return false;
    f.Label8.caption = std::to_string(waiting);
    f.rx_text = f.MSComm1.Input();
    f.MSComm1.InputLen(0);
    f.rx_bytes.assign(f.rx_text.begin(), f.rx_text.end());
    // The port said the bytes were there; never judge beyond what came.
    if (f.rx_bytes.size() < static_cast<std::size_t>(threshold))
        f.rx_bytes.resize(static_cast<std::size_t>(threshold), 0);
    return true;
}

bool ack(const main_form& f, std::uint8_t code) {
    return f.rx_bytes.size() >= 2 && f.rx_bytes[0] == code && f.rx_bytes[1] == code;
}

void send_address_frame(main_form& f) {
    f.Label11.caption = std::to_string(f.address_frame[1]);
    f.Label12.caption = std::to_string(f.address_frame[2]);
    send_bytes(f, f.address_frame);
}

void send_block_frame(main_form& f, std::uint8_t next) {
    f.engine_step = next;
    f.Label15.caption = std::to_string(f.block_frame[0]);
    f.Label16.caption = std::to_string(f.block_frame[1]);
    f.Label17.caption = std::to_string(f.block_frame[2]);
    f.Label18.caption = std::to_string(f.block_frame[3]);
    send_bytes(f, f.block_frame);
}

bool open_port_with_busy_indicator(main_form& f) {
    f.Timer3.enabled = true;
    if (open_port_prologue(f)) return true;
    stop_busy_indicator(f, indicator::all);
    return false;
}

bool block_to_send(const main_form& f) {
    for (std::size_t i = 2; i <= 8; ++i)
        if (f.block_select[i] == 1) return true;
    return false;
}

void send_block_command(main_form& f, std::uint8_t echo_row) {
    for (int i = 2; i <= 8; ++i) {
        if (f.block_select[i] != 1) continue;
        const cpu_family& map = block_map(f);
        const int code = map.box_code[static_cast<std::size_t>(i)];
        f.block_frame = {protocol::block_frame_mark, static_cast<std::uint8_t>(code), 0, 0};
        f.MSComm1.note(block_named(f, i + 1) + " goes to the writer as its block " + std::to_string(code));
        note_change(f, f.tx_frame[0], i + 1);
        send_bytes(f, f.tx_frame);
        f.block_select[i] = 0;
        f.engine_step = echo_row;
        return;
    }
    f.engine_step = 0;
}

}  // namespace torvela
