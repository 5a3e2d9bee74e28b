#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

// First step: the writer echoes FF FF; the address frame follows.
void first(main_form& f, std::uint8_t next, const char* label, file1 file) {
    if (wait_ack(f, protocol::page_read, answer::echo, file) != wait_result::accepted) return;
    f.engine_step = next;
    f.Label9.caption = label;
    send_address_frame(f);
}

// Second step: D0 D0 for the address; the same frame again asks for the page.
void second(main_form& f, std::uint8_t next, const char* label, file1 file) {
    if (wait_ack(f, protocol::done, answer::verdict, file) != wait_result::accepted) return;
    f.engine_step = next;
    f.Label9.caption = label;
    send_address_frame(f);
}

bool page_arrived(main_form& f) { return reply_read(f, page_len); }

const char* const installer_label = "INSTALLER MODE CHECK NOW!";
const char* const version_label = "MACHINE VERSION CHECK NOW!";
const char* const cpu_label = "CPU TYPE CHECK NOW!";
const char* const read_label = "READ NOW!";

}  // namespace

void start_page_read(main_form& f, protocol::page_address page, std::uint8_t first_step) {
    f.address_frame = {protocol::address_read, page.high, page.mid, 0};
    start_family(f, protocol::page_read, first_step);
}

void write_memories_page(main_form& f) {
    // The store page 01PP00 is the file's page PP00.
    f.files.print_line(1, address_line(static_cast<std::uint32_t>(f.address_frame[2]) * 256));
    page_bytes page{};
    std::copy_n(f.rx_bytes.begin(), page.size(), page.begin());
    for (const std::string& line : page_lines(page)) f.files.print_line(1, line);
}

void write_memories_header(main_form& f) { f.files.print_line(1, header_line(f.rx_bytes.data())); }

void advance_page_address(main_form& f) {
    if (f.address_frame[2] < protocol::memories_last_mid) {
        ++f.address_frame[2];
    } else {
        ++f.address_frame[1];
        f.address_frame[2] = 0;
    }
}

// ---- installer mode check ----------------------------------------------------
void step_191(main_form& f) { first(f, 194, installer_label, file1::stays); }
void step_194(main_form& f) { second(f, 192, installer_label, file1::stays); }
void step_192(main_form& f) {
    if (!page_arrived(f)) return;
    if (f.rx_bytes[0] != protocol::empty_byte) {
        abort_sequence(f, outcome::writer_refused, "INSTALLER MODE ERROR");
        return;
    }
    f.engine_step = 0;
    f.job_phase = 16;
}

// ---- machine version read ----------------------------------------------------
void step_161(main_form& f) { first(f, 164, version_label, file1::stays); }
void step_164(main_form& f) { second(f, 162, version_label, file1::stays); }
void step_162(main_form& f) {
    if (!page_arrived(f)) return;
    if (f.rx_bytes[0] == protocol::empty_byte && f.rx_bytes[1] == protocol::empty_byte) {
        abort_sequence(f, outcome::writer_refused, "NO MEMORY ERROR");
        return;
    }
    f.engine_step = 0;
    f.job_phase = 14;  // the page stays in rx_bytes for the header line
}

// ---- CPU type read -----------------------------------------------------------
void step_151(main_form& f) { first(f, 154, cpu_label, file1::close); }
void step_154(main_form& f) { second(f, 152, cpu_label, file1::close); }
void step_152(main_form& f) {
    if (!page_arrived(f)) return;
    const std::uint8_t b0 = f.rx_bytes[0], b1 = f.rx_bytes[1];
    const cpu_family* family = family_of_code(b0, b1);
    if (!family) {
        const bool empty = b0 == protocol::empty_byte && b1 == protocol::empty_byte;
        abort_sequence(f, outcome::writer_refused, empty ? "NO MEMORY ERROR" : "INSTALLER ERROR", file1::close);
        return;
    }
    f.Label2.caption = family->name;
    f.engine_step = 0;
    f.job_phase = 15;
}

// ---- memories page read loop -------------------------------------------------
void step_131(main_form& f) { first(f, 134, read_label, file1::close); }
void step_134(main_form& f) { second(f, 132, read_label, file1::close); }
void step_132(main_form& f) {
    if (!page_arrived(f)) return;
    write_memories_page(f);
    page_done(f);
    f.engine_step = 133;
}
void step_133(main_form& f) {
    advance_page_address(f);
    if (f.address_frame[1] == 1) {
        start_family(f, protocol::page_read, 131);
        return;
    }
    if (!f.files.close(1)) {
        // The records did not all reach the disk.
        abort_sequence(f, outcome::file_problem, "FILE SAVE ERROR");
        return;
    }
    f.engine_step = 0;
    f.Label9.caption = "READ OK!";
    f.job_phase = 11;
}

// ---- memories store checks ---------------------------------------------------
void step_201(main_form& f) { first(f, 204, version_label, file1::stays); }
void step_204(main_form& f) { second(f, 202, version_label, file1::stays); }
void step_202(main_form& f) {
    if (!page_arrived(f)) return;
    f.engine_step = 0;
    f.job_phase = (f.rx_bytes[0] == protocol::empty_byte || f.rx_bytes[1] == protocol::empty_byte) ? 14 : 17;
}

void step_211(main_form& f) { first(f, 214, cpu_label, file1::stays); }
void step_214(main_form& f) { second(f, 212, cpu_label, file1::stays); }
void step_212(main_form& f) {
    if (!page_arrived(f)) return;
    if (f.rx_bytes[0] == protocol::empty_byte || f.rx_bytes[1] == protocol::empty_byte) {
        f.engine_step = 0;
        f.job_phase = 14;
        return;
    }
    abort_sequence(f, outcome::writer_refused, "FULL MEMORY ERROR");
}

}  // namespace torvela
