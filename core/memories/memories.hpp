// Reading and storing the writer's memories area: the page read exchange and
// its families, the memories-file record writers, and the two jobs.
#pragma once

#include <string>

#include "console/main_form.hpp"
#include "engine/engine.hpp"
#include "link/protocol.hpp"
#include "rom_data/memory_files.hpp"

namespace torvela {

// The page read exchange: FF FF, echo, address frame, D0 D0, the same
// address frame again, 256 bytes.
void start_page_read(main_form& f, protocol::page_address page, const exchange& x);

// One record (address line and four data lines) for the page in rx_bytes.
void write_memories_page(main_form& f);
// The header line from the machine version page in rx_bytes.
void write_memories_header(main_form& f);
void advance_page_address(main_form& f);

void ramdata_get_Click(main_form& f);
// The save's read and verify into the chosen file, and no erase.
void backup_memories_Click(main_form& f);
void ramdata_store_Click(main_form& f);

// Ends a job whose file ran out or is unusable: message, job over,
// indicator reset; the port stays open.
void end_job_no_memory(main_form& f, const char* message = "NO MEMORY ERROR");

// The chosen memories file checked whole, as it must be before anything
// goes to the writer: its checked copy in `copy`. Else the detail says what
// did not happen (`nothing`), where the file fails and what to do, and
// `memories_check_status` gives the status the job ends with.
memories_check check_chosen_memories_file(main_form& f, std::string& copy, const char* nothing);
const char* memories_check_status(memories_check checked);

// Opens a memories file as file 1 at its first page for the page `command`
// (2 write, 3 read back); false when the job has ended (the file would not
// open, or holds no page).
bool open_memories_file(main_form& f, const std::string& path, std::uint8_t command);
// The same for a file 1 that `opened` says was opened (or not) already.
bool start_memories_pass(main_form& f, bool opened, std::uint8_t command);

}  // namespace torvela
