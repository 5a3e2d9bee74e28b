#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "memories/memories.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/seq_files.hpp"

namespace torvela {

namespace {

// First step: the writer echoes FF FF; the address frame follows.
void first(main_form& f, std::uint8_t next, const char* label, bool file_open) {
    if (wait_ack(f, 0xFF, false, file_open) != wait_result::accepted) return;
    f.engine_step = next;
    f.Label9.caption = label;
    send_address_frame(f);
}

// Second step: D0 D0 for the address; the same frame again asks for the page.
void second(main_form& f, std::uint8_t next, const char* label, bool file_open) {
    if (wait_ack(f, 0xD0, true, file_open) != wait_result::accepted) return;
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

void start_page_read(main_form& f, std::uint8_t a1, std::uint8_t a2, std::uint8_t first_step) {
    f.address_frame = {3, a1, a2, 0};
    start_family(f, 0xFF, first_step);
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
    if (f.address_frame[2] < 0x7F) {
        ++f.address_frame[2];
    } else {
        ++f.address_frame[1];
        f.address_frame[2] = 0;
    }
}

// ---- installer mode check ----------------------------------------------------
void step_191(main_form& f) { first(f, 194, installer_label, false); }
void step_194(main_form& f) { second(f, 192, installer_label, false); }
void step_192(main_form& f) {
    if (!page_arrived(f)) return;
    if (f.rx_bytes[0] != 0xFF) {
        abort_sequence(f, "INSTALLER MODE ERROR");
        return;
    }
    f.engine_step = 0;
    f.job_phase = 16;
}

// ---- machine version read ----------------------------------------------------
void step_161(main_form& f) { first(f, 164, version_label, false); }
void step_164(main_form& f) { second(f, 162, version_label, false); }
void step_162(main_form& f) {
    if (!page_arrived(f)) return;
    if (f.rx_bytes[0] == 0xFF && f.rx_bytes[1] == 0xFF) {
        abort_sequence(f, "NO MEMORY ERROR");
        return;
    }
    f.engine_step = 0;
    f.job_phase = 14;  // the page stays in rx_bytes for the header line
}

// ---- CPU type read -----------------------------------------------------------
void step_151(main_form& f) { first(f, 154, cpu_label, true); }
void step_154(main_form& f) { second(f, 152, cpu_label, true); }
void step_152(main_form& f) {
    if (!page_arrived(f)) return;
    const std::uint8_t b0 = f.rx_bytes[0], b1 = f.rx_bytes[1];
    if (b0 == 0x01 && b1 == 0x6C) {
        f.Label2.caption = "M16C";
    } else if (b0 == 0x03 && b1 == 0x21) {
        f.Label2.caption = "M32R";
    } else {
        abort_sequence(f, b0 == 0xFF && b1 == 0xFF ? "NO MEMORY ERROR" : "INSTALLER ERROR", true);
        return;
    }
    f.engine_step = 0;
    f.job_phase = 15;
}

// ---- memories page read loop -------------------------------------------------
void step_131(main_form& f) { first(f, 134, read_label, true); }
void step_134(main_form& f) { second(f, 132, read_label, true); }
void step_132(main_form& f) {
    if (!page_arrived(f)) return;
    write_memories_page(f);
    page_done(f);
    f.engine_step = 133;
}
void step_133(main_form& f) {
    advance_page_address(f);
    if (f.address_frame[1] == 1) {
        start_family(f, 0xFF, 131);
        return;
    }
    if (!f.files.close(1)) {
        // The records did not all reach the disk.
        abort_sequence(f, "FILE SAVE ERROR");
        return;
    }
    f.engine_step = 0;
    f.Label9.caption = "READ OK!";
    f.job_phase = 11;
}

// ---- memories store checks ---------------------------------------------------
void step_201(main_form& f) { first(f, 204, version_label, false); }
void step_204(main_form& f) { second(f, 202, version_label, false); }
void step_202(main_form& f) {
    if (!page_arrived(f)) return;
    f.engine_step = 0;
    f.job_phase = (f.rx_bytes[0] == 0xFF || f.rx_bytes[1] == 0xFF) ? 14 : 17;
}

void step_211(main_form& f) { first(f, 214, cpu_label, false); }
void step_214(main_form& f) { second(f, 212, cpu_label, false); }
void step_212(main_form& f) {
    if (!page_arrived(f)) return;
    if (f.rx_bytes[0] == 0xFF || f.rx_bytes[1] == 0xFF) {
        f.engine_step = 0;
        f.job_phase = 14;
        return;
    }
    abort_sequence(f, "FULL MEMORY ERROR");
}

}  // namespace torvela
