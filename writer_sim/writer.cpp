#include "writer.hpp"

#include <algorithm>

#include "writer_ids.hpp"

namespace writer_sim {

writer::writer() {
    store.fill(0xFF);
    id_code = torvela::writer_id_code;
}

std::pair<std::uint32_t, std::uint32_t> writer::block_range(int code) {
    // Store blocks: 0 holds the system pages, 1 the memories area, 2..5 the
    // image, 6 the upper two 64 KB of the image.
    if (code >= 0 && code <= 5) return {static_cast<std::uint32_t>(code) * 0x10000u, 0x10000u};
    if (code == 6) return {0x60000u, 0x20000u};
    return {0, 0};
}

void writer::emit(const std::string& tag, std::vector<std::uint8_t> bytes, std::uint64_t delay,
                  std::vector<reply>& out) {
    const int n = ++seen_[tag];
    const auto it = std::find_if(faults_.begin(), faults_.end(), [&](const fault& f) {
        return f.tag == tag && f.occurrence == n;
    });
    if (it == faults_.end()) {
        out.push_back({std::move(bytes), delay});
        return;
    }
    switch (it->kind) {
    case fault_kind::no_reply:
        return;
    case fault_kind::wrong_echo:
        out.push_back({{0x5A, 0xA5}, delay});
        return;
    case fault_kind::ac_ac:
        out.push_back({{0xAC, 0xAC}, delay});
        return;
    case fault_kind::split: {
        std::vector<std::uint8_t> first(bytes.begin(), bytes.begin() + 1);
        std::vector<std::uint8_t> rest(bytes.begin() + 1, bytes.end());
        out.push_back({std::move(first), delay});
        out.push_back({std::move(rest), split_pause_us});
        return;
    }
    case fault_kind::extra_bytes:
        bytes.insert(bytes.end(), {0x33, 0x33, 0x33});
        out.push_back({std::move(bytes), delay});
        return;
    case fault_kind::truncated_page:
        bytes.resize(bytes.size() / 2);
        out.push_back({std::move(bytes), delay});
        return;
    case fault_kind::corrupted_page:
        if (!bytes.empty()) bytes[bytes.size() / 3] ^= 0x5A;
        out.push_back({std::move(bytes), delay});
        return;
    case fault_kind::replace:
        out.push_back({it->bytes, delay});
        return;
    case fault_kind::drop_line:
        if (on_drop) on_drop();
        return;
    }
}

void writer::receive(std::uint8_t byte, std::vector<reply>& out) {
    frame_.push_back(byte);
    if (state_ == state::command) {
        // A command is one code twice. A lone byte waits for its twin; a
        // pair that does not match loses its first byte.
        if (frame_.size() < 2) return;
        if (frame_[0] != frame_[1]) {
            ++stray_bytes;
            frame_.erase(frame_.begin());
            return;
        }
        const std::uint8_t code = frame_[0];
        frame_.clear();
        on_command(code, out);
        return;
    }
    if (frame_.size() < frame_len_) return;
    on_frame_complete(out);
}

void writer::on_command(std::uint8_t code, std::vector<reply>& out) {
    switch (code) {
    case 0xF5:
        emit("echo:F5", {0xF5, 0xF5}, echo_delay_us, out);
        state_ = state::id_frame;
        frame_len_ = 11;
        return;
    case 0xA7:
        emit("echo:A7", {0xA7, 0xA7}, echo_delay_us, out);
        state_ = state::erase_go;
        frame_len_ = 2;
        return;
    case 0x20:
        emit("echo:20", {0x20, 0x20}, echo_delay_us, out);
        state_ = state::block_frame;
        frame_len_ = 4;
        return;
    default:
        stray_bytes += 2;  // a command this writer does not know: no answer
        return;
    }
}

void writer::on_frame_complete(std::vector<reply>& out) {
    const std::vector<std::uint8_t> f = std::move(frame_);
    frame_.clear();
    const state was = state_;
    state_ = state::command;
    frame_len_ = 2;
    switch (was) {
    case state::id_frame: {
        const bool ok = f[0] == 0xDF && f[1] == 0xFF && f[2] == 0x07 &&
                        std::equal(id_code.begin(), id_code.end(), f.begin() + 3) && f[10] == 0x00;
        if (ok) {
            ++id_checks_passed;
            emit("done:F5", {0xD0, 0xD0}, echo_delay_us, out);
        } else {
            ++id_checks_refused;
            emit("done:F5", {0xAC, 0xAC}, echo_delay_us, out);
        }
        return;
    }
    case state::erase_go:
        if (f[0] != 0xD0 || f[1] != 0xD0) {
            emit("done:A7", {0xAC, 0xAC}, echo_delay_us, out);
            return;
        }
        // Everything from the memories area up; the system pages of block 0
        // (control, CPU type, installer mode, machine version, counts) stay.
        std::fill(store.begin() + 0x10000, store.end(), std::uint8_t{0xFF});
        ++erase_all_count;
        emit("done:A7", {0xD0, 0xD0}, erase_all_delay_us, out);
        return;
    case state::block_frame: {
        const auto [start, len] = block_range(f[1]);
        if (f[0] != 0xD8 || len == 0 || f[2] != 0 || f[3] != 0) {
            emit("done:20", {0xAC, 0xAC}, echo_delay_us, out);
            return;
        }
        std::fill_n(store.begin() + start, len, std::uint8_t{0xFF});
        erased_blocks.push_back(f[1]);
        emit("done:20", {0xD0, 0xD0}, block_erase_delay_us, out);
        return;
    }
    case state::command:
        return;
    }
}

}  // namespace writer_sim
