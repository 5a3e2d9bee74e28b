#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console/status_texts.hpp"
#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "link/trace.hpp"
#include "memories/memories.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

constexpr const char* installer_label = "INSTALLER MODE CHECK NOW!";
constexpr const char* version_label = "MACHINE VERSION CHECK NOW!";
constexpr const char* cpu_label = "CPU TYPE CHECK NOW!";
constexpr const char* read_label = "READ NOW!";

}  // namespace

void start_page_read(main_form& f, protocol::page_address page, const exchange& x) {
    f.address_frame = {protocol::address_read, page.high, page.mid, 0};
    start_exchange(f, x);
}

void write_memories_page(main_form& f) {
    // The store page 01PP00 is the file's page PP00.
    f.files.print_line(1, page_address_line(f.address_frame[2]));
    page_bytes page{};
    std::copy_n(f.rx_bytes.begin(), page.size(), page.begin());
    for (const std::string& line : page_lines(page)) f.files.print_line(1, line);
}

void write_memories_header(main_form& f) {
    f.found.version = header_line(f.rx_bytes.data());
    f.files.print_line(1, f.found.version);
}

void advance_page_address(main_form& f) {
    if (f.address_frame[2] < protocol::memories_last_mid) {
        ++f.address_frame[2];
    } else {
        ++f.address_frame[1];
        f.address_frame[2] = 0;
    }
}

namespace {

// Every page read: FF FF, its echo, the address frame; D0 D0 for the
// address, the same frame again to ask for the page; the page. The labels
// of its rows: the echo, the address's verdict, the page.
struct page_read_rows {
    std::uint8_t echo, address, page;
};
constexpr page_read_rows installer_rows{191, 194, 192}, version_rows{161, 164, 162}, cpu_rows{151, 154, 152},
    memories_rows{131, 134, 132}, version_check_rows{201, 204, 202}, memory_full_rows{211, 214, 212};
// After a memories page: the next one.
constexpr std::uint8_t memories_next = 133;

constexpr exchange_step echo_row(page_read_rows rows, const char* label, file1 file) {
    return {.step = rows.echo, .wait = awaits::echo, .code = protocol::page_read, .file = file, .status = label,
            .then = sends::address_frame, .next = rows.address};
}
constexpr exchange_step address_row(page_read_rows rows, const char* label, file1 file) {
    return {.step = rows.address, .wait = awaits::verdict, .file = file, .status = label,
            .then = sends::address_frame, .next = rows.page};
}
constexpr exchange_step page_row(page_read_rows rows, step_body judge) {
    return {.step = rows.page, .wait = awaits::bytes, .count = page_len, .body = judge};
}

bool empty_word(const main_form& f) {
    return f.rx_bytes[0] == protocol::empty_byte && f.rx_bytes[1] == protocol::empty_byte;
}
bool either_empty(const main_form& f) {
    return f.rx_bytes[0] == protocol::empty_byte || f.rx_bytes[1] == protocol::empty_byte;
}

// ---- installer mode check ----------------------------------------------------
void installer_page_read(main_form& f) {
    if (f.rx_bytes[0] != protocol::empty_byte) {
        f.detail = "the writer on " + port_named(f) + " is not in the mode the save needs (its installer page " +
                   "starts with " + hex(std::span(f.rx_bytes).first(1)) + ", not FF); nothing was read or erased";
        abort_sequence(f, outcome::writer_state, "INSTALLER MODE ERROR");
        return;
    }
    exchange_done(f);
}

// ---- machine version read ----------------------------------------------------
// The page stays in rx_bytes for the header line.
void version_page_read(main_form& f) {
    if (empty_word(f)) {
        f.detail = "the writer on " + port_named(f) + " holds no unit (its machine version page is blank): " +
                   "there are no memories to save";
        abort_sequence(f, outcome::writer_state, "NO MEMORY ERROR");
        return;
    }
    exchange_done(f);
}

// ---- CPU type read -----------------------------------------------------------
void cpu_page_read(main_form& f) {
    const cpu_family* family = family_of_code(f.rx_bytes[0], f.rx_bytes[1]);
    if (!family) {
        f.detail = "the writer on " + port_named(f) + "'s CPU type page reads " + hex(std::span(f.rx_bytes).first(2)) +
                   (empty_word(f) ? " (blank): it holds no unit" : ", a CPU type this tool does not know");
        abort_sequence(f, outcome::writer_state, empty_word(f) ? "NO MEMORY ERROR" : "INSTALLER ERROR",
                       file1::close);
        return;
    }
    f.Label2.caption = family->name;
    f.found.cpu = family->name;
    exchange_done(f);
}

// ---- memories page read loop -------------------------------------------------
void memories_page_read(main_form& f) {
    write_memories_page(f);
    page_done(f);
    f.engine_step = memories_next;
}

void next_memories_page_read(main_form& f) {
    advance_page_address(f);
    if (f.address_frame[1] == protocol::memories_first.high) {
        start_exchange(f, memories_read_exchange);
        return;
    }
    errno = 0;
    if (!f.files.close(1)) {
        // The records did not all reach the disk: say which and why.
        const int err = errno;
        const std::string& file = f.memory_file_path;
        f.detail = "the memories could not all be written beside " + file + " (" +
                   (err != 0 ? std::string(std::strerror(err)) : std::string("the disk refused the records")) +
                   "); nothing was changed: " + file + " is as it was and the writer still holds the memories; " +
                   "free space on that disk or choose another file, then save again";
        abort_sequence(f, outcome::file_problem, "FILE SAVE ERROR");
        return;
    }
    f.Label9.caption = "READ OK!";
    exchange_done(f);
}

// ---- memories store checks ---------------------------------------------------
// A writer with no machine version goes straight to the erase; one with a
// version has its memory checked first.
void version_page_checked(main_form& f) {
    const bool empty = either_empty(f);
    f.found.version = empty ? "(blank)" : header_line(f.rx_bytes.data());
    exchange_done(f);
    if (empty) f.job_phase = memory_full_check_exchange.completion;
}

// The memories area must be empty before it is written.
void memory_page_checked(main_form& f) {
    if (either_empty(f)) {
        exchange_done(f);
        return;
    }
    const std::string& file = f.memory_file_path;
    f.detail = "the writer on " + port_named(f) + " holds memories (its machine version page and CPU type " +
               "page are not blank): a unit not yet saved, or a transmit that stopped partway; nothing was " +
               "written. compare " + file + " tells which: a unit not yet saved, take it out with SAVE MEMORIES " +
               "TO FILE first, which erases it once it is safe in a file; part of " + file +
               ", ERASE ALL FLASH, then TRANSMIT MEMORIES of " + file + " again (" + partial_unit_way_out(file) + ")";
    abort_sequence(f, outcome::writer_state, "FULL MEMORY ERROR");
}

constexpr exchange_step installer_steps[] = {
    echo_row(installer_rows, installer_label, file1::stays),
    address_row(installer_rows, installer_label, file1::stays),
    page_row(installer_rows, installer_page_read),
};
constexpr exchange_step version_read_steps[] = {
    echo_row(version_rows, version_label, file1::stays),
    address_row(version_rows, version_label, file1::stays),
    page_row(version_rows, version_page_read),
};
constexpr exchange_step cpu_read_steps[] = {
    echo_row(cpu_rows, cpu_label, file1::close),
    address_row(cpu_rows, cpu_label, file1::close),
    page_row(cpu_rows, cpu_page_read),
};
constexpr exchange_step memories_read_steps[] = {
    echo_row(memories_rows, read_label, file1::close),
    address_row(memories_rows, read_label, file1::close),
    page_row(memories_rows, memories_page_read),
    {.step = memories_next, .body = next_memories_page_read},
};
constexpr exchange_step version_check_steps[] = {
    echo_row(version_check_rows, version_label, file1::stays),
    address_row(version_check_rows, version_label, file1::stays),
    page_row(version_check_rows, version_page_checked),
};
constexpr exchange_step memory_full_steps[] = {
    echo_row(memory_full_rows, cpu_label, file1::stays),
    address_row(memory_full_rows, cpu_label, file1::stays),
    page_row(memory_full_rows, memory_page_checked),
};

}  // namespace

const exchange installer_exchange = {"installer mode check", protocol::page_read, installer_steps, 16};
const exchange version_read_exchange = {"machine version read", protocol::page_read, version_read_steps, 14};
const exchange cpu_read_exchange = {"CPU type read", protocol::page_read, cpu_read_steps, 15};
const exchange memories_read_exchange = {"memories page read", protocol::page_read, memories_read_steps, 11};
const exchange version_check_exchange = {"machine version check", protocol::page_read, version_check_steps, 17};
const exchange memory_full_check_exchange = {"memory full check", protocol::page_read, memory_full_steps, 14};

}  // namespace torvela
