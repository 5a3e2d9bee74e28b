#include "rehearsal/rehearsal.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/engine.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "window/driver.hpp"

namespace torvela {

namespace {

std::uint32_t address_of(protocol::page_address a) { return (std::uint32_t{a.high} << 16) | (std::uint32_t{a.mid} << 8); }

constexpr std::size_t lock_codes = 8;

}  // namespace

void rehearsal_port::hold_unit(const cpu_family& family) {
    page cpu(page_len, protocol::empty_byte);
    std::copy(family.code.begin(), family.code.end(), cpu.begin());
    store_[address_of(protocol::cpu_page)] = cpu;
    // Three fields of six characters, each ended by a zero byte.
    static constexpr char version[] = "UNIT  \0V1.0  \0BENCH ";
    page text(page_len, protocol::empty_byte);
    std::copy(std::begin(version), std::end(version), text.begin());
    store_[address_of(protocol::version_page)] = text;
    for (unsigned mid = protocol::memories_first.mid; mid <= protocol::memories_last_mid; ++mid) {
        page p(page_len);
        char head[17];
        std::snprintf(head, sizeof head, "MEMORIES PAGE %02X", mid);
        for (std::size_t i = 0; i < page_len; ++i)
            p[i] = i < 16 ? static_cast<std::uint8_t>(head[i]) : static_cast<std::uint8_t>(mid * 7 + i);
        store_[address_of({protocol::memories_first.high, static_cast<std::uint8_t>(mid)})] = p;
    }
}

std::uint32_t rehearsal_port::address() const {
    return address_.size() < 3 ? 0 : (std::uint32_t{address_[1]} << 16) | (std::uint32_t{address_[2]} << 8);
}

bool rehearsal_port::Output(std::span<const std::uint8_t> bytes) {
    if (!open_) return false;
    owed_ = true;
    if (bytes.size() == 2 && bytes[0] == bytes[1] && bytes[0] != protocol::go_ahead) {
        command_ = bytes[0];
    } else if (bytes.size() == 4 && bytes[0] == protocol::block_frame_mark) {
        block_ = bytes[1];
    } else if (bytes.size() == 4) {
        address_.assign(bytes.begin(), bytes.end());
    } else if (bytes.size() == page_len) {
        write_page(bytes);
    }
    return true;
}

void rehearsal_port::write_page(std::span<const std::uint8_t> bytes) {
    const bool program = !address_.empty() && address_[0] == protocol::address_program;
    (program ? program_ : store_)[address()] = page(bytes.begin(), bytes.end());
    if (program) {
        ++went.program_pages_written;
    } else {
        went.written_pages.push_back(address());
    }
}

// A command the writer carries out on `done`.
void rehearsal_port::carried_out(std::uint8_t command) {
    switch (command) {
    case protocol::erase_all:
        ++went.erase_all;
        // The system pages below the memories area stay.
        store_.erase(store_.lower_bound(address_of(protocol::memories_first)), store_.end());
        break;
    case protocol::block_erase:
        went.erased_blocks.push_back(block_);
        if (block_ >= 0 && static_cast<std::size_t>(block_) < lock_codes) locked_[static_cast<std::size_t>(block_)] = false;
        break;
    case protocol::switch_operation: ++went.switch_sets; break;
    case protocol::target_write: ++went.target_writes; break;
    case protocol::lock_enable: ++went.lock_enables; break;
    // The CPU type check shares the code, and the writer's lock bits go
    // ineffective with it too.
    case protocol::lock_disable: ++went.lock_disables; break;
    default: break;
    }
}

void rehearsal_port::answer_row() {
    const step_row at = find_step(form_->engine_step);
    if (!at.row || at.row->wait == awaits::nothing) return;
    owed_ = false;
    const exchange_step& row = *at.row;
    switch (row.wait) {
    case awaits::nothing: return;
    case awaits::echo: rx_ = {char(row.code), char(row.code)}; return;
    case awaits::verdict:
        carried_out(command_);
        rx_ = {char(protocol::done), char(protocol::done)};
        return;
    case awaits::bytes: break;
    }
    if (row.count == page_len) {
        const bool program = !address_.empty() && address_[0] == protocol::address_program;
        const auto& memory = program ? program_ : store_;
        const auto found = memory.find(address());
        went.read_pages.push_back(address());
        rx_ = found == memory.end() ? std::string(page_len, char(protocol::empty_byte))
                                    : std::string(found->second.begin(), found->second.end());
    } else if (row.count == lock_answer_len) {
        const std::size_t code = block_ >= 0 && static_cast<std::size_t>(block_) < lock_codes ? static_cast<std::size_t>(block_) : 0;
        if (command_ == protocol::lock_set) {
            locked_[code] = true;
            went.locked_blocks.push_back(block_);
        }
        // Bit 6 of both status bytes set: not locked.
        const char status = char(locked_[code] ? 0x80 : 0x80 | protocol::lock_free_bit);
        rx_ = {status, status, char(protocol::done), char(protocol::done)};
    } else {
        // A two-byte answer judged by the row itself: the command's echo.
        rx_ = std::string(static_cast<std::size_t>(row.count), char(at.of->command));
    }
}

int rehearsal_port::InBufferCount() {
    if (owed_ && form_ && rx_.empty()) answer_row();
    return static_cast<int>(rx_.size());
}

std::string rehearsal_port::Input() { return std::exchange(rx_, {}); }

bool run_rehearsal(front_driver& driver, const main_form& f, bool job) {
    // An hour of the engine's ticks at most: a job that never ends fails
    // here instead of running for ever.
    constexpr long max_ticks = 3600L * 1000 / 4 * 2;
    std::int64_t now = driver.next_due();
    for (long ticks = 0; f.engine_step != 0 || (job && f.job_no != 0); ++ticks) {
        if (ticks > max_ticks) return false;
        now = std::max(now, driver.next_due());
        driver.tick(now);
    }
    return true;
}

}  // namespace torvela
