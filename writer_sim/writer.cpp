#include "writer.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace writer_sim {

namespace {

std::string hex_code(std::uint8_t b) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", b);
    return buf;
}

std::string hex_address(std::uint32_t a) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", a & 0xFFFFFFu);
    return buf;
}

}  // namespace

writer::writer() {
    store.fill(0xFF);
    program.fill(0xFF);
    id_code = {'T', 'O', 'R', 'V', 'E', 'L', 'A'};  // the code this writer was set up with
}

void writer::hold_sample_unit() {
    store[0] = 0x03;  // M32R
    store[1] = 0x21;
    // Three fields of six characters, each ended by 00.
    static const char version[] = "SIM  1\0V1.0 A\0LINE 1";
    std::copy(std::begin(version), std::end(version), store.begin() + 0x0A00);
    for (std::uint32_t page = 0; page < 128; ++page) {
        std::uint8_t* p = store.data() + 0x10000 + page * page_size;
        char head[17];
        std::snprintf(head, sizeof head, "MEMORIES PAGE %02X", static_cast<unsigned>(page));
        for (std::size_t i = 0; i < page_size; ++i)
            p[i] = i < 16 ? static_cast<std::uint8_t>(head[i]) : static_cast<std::uint8_t>(page * 7 + i);
    }
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
    case fault_kind::late:
        out.push_back({std::move(bytes), delay + it->delay_us});
        return;
    case fault_kind::drop_line:
        if (on_drop) on_drop();
        return;
    }
}

void writer::line_quiet(std::uint64_t quiet_us) {
    if (frame_pause_us == 0 || quiet_us < frame_pause_us || (state_ == state::command && frame_.empty())) return;
    ++frames_dropped;
    frame_.clear();
    state_ = state::command;
    frame_len_ = 2;
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
    case 0xFF:
        emit("echo:FF", {0xFF, 0xFF}, echo_delay_us, out);
        state_ = state::read_address;
        frame_len_ = 4;
        return;
    case 0x41:
        emit("echo:41", {0x41, 0x41}, echo_delay_us, out);
        state_ = state::write_page;
        frame_len_ = 4 + page_size;
        return;
    case 0x77:
    case 0x71:
        emit("echo:" + hex_code(code), {code, code}, echo_delay_us, out);
        lock_code_ = code;
        state_ = state::lock_frame;
        frame_len_ = 4;
        return;
    case 0x25:
    case 0xC5:
    case 0x75:
    case 0x7A:
        emit("echo:" + hex_code(code), {code, code}, echo_delay_us, out);
        confirm_code_ = code;
        state_ = state::confirm_go;
        frame_len_ = 2;
        return;
    default:
        stray_bytes += 2;  // a command this writer does not know: no answer
        return;
    }
}

std::uint32_t writer::page_address(const std::vector<std::uint8_t>& f) const {
    return static_cast<std::uint32_t>(f[1]) << 16 | static_cast<std::uint32_t>(f[2]) << 8 | f[3];
}

std::array<std::uint8_t, store_size>* writer::read_memory(std::uint8_t command) {
    return command == 0x03 ? &store : command == 0x00 ? &program : nullptr;
}

void writer::on_id_frame(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const bool ok = f[0] == 0xDF && f[1] == 0xFF && f[2] == 0x07 &&
                    std::equal(id_code.begin(), id_code.end(), f.begin() + 3) && f[10] == 0x00;
    if (ok) {
        ++id_checks_passed;
        emit("done:F5", {0xD0, 0xD0}, echo_delay_us, out);
    } else {
        ++id_checks_refused;
        emit("done:F5", {0xAC, 0xAC}, echo_delay_us, out);
    }
}

void writer::on_erase_go(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    if (f[0] != 0xD0 || f[1] != 0xD0) {
        emit("done:A7", {0xAC, 0xAC}, echo_delay_us, out);
        return;
    }
    // Everything from the memories area up; the system pages of block 0
    // (control, CPU type, installer mode, machine version, counts) stay.
    erase_range(0x10000, static_cast<std::uint32_t>(store_size - 0x10000));
    ++erase_all_count;
    emit("done:A7", {0xD0, 0xD0}, erase_all_delay_us, out);
}

void writer::on_block_frame(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const auto [start, len] = block_range(f[1]);
    if (f[0] != 0xD8 || len == 0 || f[2] != 0 || f[3] != 0) {
        emit("done:20", {0xAC, 0xAC}, echo_delay_us, out);
        return;
    }
    if (locks_enabled && locked[f[1]]) {
        emit("done:20", {0xAC, 0xAC}, echo_delay_us, out);
        return;
    }
    erase_range(start, len);
    locked[f[1]] = false;  // erasing a block clears its lock bit
    erased_blocks.push_back(f[1]);
    emit("done:20", {0xD0, 0xD0}, block_erase_delay_us, out);
}

void writer::on_read_address(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const std::uint32_t a = page_address(f);
    if (!read_memory(f[0]) || f[3] != 0 || a + page_size > store_size) {
        emit("addr:FF", {0xEE, 0xEE}, echo_delay_us, out);
        return;
    }
    if (f[0] == 0x03 && (a == 0x000400 || a == 0x000700)) {
        // The count pages are answered at once, without the second frame.
        ++pages_read;
        read_pages.push_back(a);
        emit("page:" + hex_address(a), {store.begin() + a, store.begin() + a + page_size},
             page_read_delay_us, out);
        return;
    }
    emit("addr:FF", {0xD0, 0xD0}, echo_delay_us, out);
    read_command_ = f[0];
    state_ = state::read_again;
    frame_len_ = 4;
}

void writer::on_read_again(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const std::uint32_t a = page_address(f);
    if (f[0] != read_command_ || f[3] != 0 || a + page_size > store_size) {
        emit("page:" + hex_address(a), {0xEE, 0xEE}, echo_delay_us, out);
        return;
    }
    const auto& memory = *read_memory(read_command_);
    ++pages_read;
    read_pages.push_back(a);
    emit("page:" + hex_address(a), {memory.begin() + a, memory.begin() + a + page_size},
         page_read_delay_us, out);
}

void writer::on_write_page(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const std::uint32_t a = page_address(f);
    if ((f[0] != 0x02 && f[0] != 0x00) || f[3] != 0 || a + page_size > store_size) {
        emit("done:41", {0xEE, 0xEE}, echo_delay_us, out);
        return;
    }
    if (f[0] == 0x00) {
        std::copy(f.begin() + 4, f.begin() + 4 + page_size, program.begin() + a);
        ++program_pages_written;
        emit("done:41", {0xD0, 0xD0}, page_write_delay_us, out);
        return;
    }
    for (std::size_t i = 0; i < page_size; ++i) {
        std::uint8_t& cell = store[a + i];
        cell = flash_write_and ? static_cast<std::uint8_t>(cell & f[4 + i]) : f[4 + i];
    }
    ++pages_written;
    written_pages.push_back(a);
    emit("done:41", {0xD0, 0xD0}, page_write_delay_us, out);
}

void writer::on_confirm_go(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const std::string tag = "done:" + hex_code(confirm_code_);
    if (f[0] != 0xD0 || f[1] != 0xD0) {
        emit(tag, {0xAC, 0xAC}, echo_delay_us, out);
        return;
    }
    std::uint64_t delay = confirm_delay_us;
    if (confirm_code_ == 0xC5) {
        count_target_write();
        delay = target_write_delay_us;
    } else if (confirm_code_ == 0x25) {
        ++switch_sets;
    } else if (confirm_code_ == 0x7A) {
        locks_enabled = true;
        ++lock_enables;
    } else {
        ++cpu_type_checks;
        locks_enabled = false;
        ++lock_disables;
    }
    emit(tag, {0xD0, 0xD0}, delay, out);
}

void writer::on_lock_frame(const std::vector<std::uint8_t>& f, std::vector<reply>& out) {
    const std::string tag = "done:" + hex_code(lock_code_);
    if (f[0] != 0xD8 || f[1] > 6 || f[2] != 0 || f[3] != 0) {
        emit(tag, {0xFF, 0xFF, 0xAC, 0xAC}, echo_delay_us, out);
        return;
    }
    if (lock_code_ == 0x77) locked[f[1]] = true;
    // Status bit 6 set: not locked.
    const std::uint8_t status = locked[f[1]] ? 0x80 : 0xC0;
    emit(tag, {status, status, 0xD0, 0xD0}, echo_delay_us, out);
}

void writer::on_frame_complete(std::vector<reply>& out) {
    const std::vector<std::uint8_t> f = std::move(frame_);
    frame_.clear();
    const state was = state_;
    state_ = state::command;
    frame_len_ = 2;
    switch (was) {
    case state::id_frame: return on_id_frame(f, out);
    case state::erase_go: return on_erase_go(f, out);
    case state::block_frame: return on_block_frame(f, out);
    case state::read_address: return on_read_address(f, out);
    case state::read_again: return on_read_again(f, out);
    case state::write_page: return on_write_page(f, out);
    case state::confirm_go: return on_confirm_go(f, out);
    case state::lock_frame: return on_lock_frame(f, out);
    case state::command: return;
    }
}

void writer::count_target_write() {
    ++target_writes;
    // Page 0400: the first count word goes up by one (high byte first).
    const int word = (store[0x400] == 0xFF && store[0x401] == 0xFF) ? 0 : store[0x400] * 256 + store[0x401];
    const int next = word + 1;
    store[0x400] = static_cast<std::uint8_t>(next >> 8);
    store[0x401] = static_cast<std::uint8_t>(next);
    // Page 0700: one more bit cleared from the top of the first byte not yet 00.
    for (std::size_t i = 0x700; i < 0x800; ++i) {
        if (store[i] == 0) continue;
        store[i] = static_cast<std::uint8_t>(store[i] >> 1);
        break;
    }
}

void writer::erase_range(std::uint32_t start, std::uint32_t len) {
    for (std::uint32_t a = start; a < start + len; ++a) {
        // The writer keeps its count pages through every erase.
        if ((a >= 0x400 && a < 0x500) || (a >= 0x700 && a < 0x800)) continue;
        store[a] = 0xFF;
    }
}

}  // namespace writer_sim
