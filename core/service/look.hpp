// Looks at the writer that change nothing on it: only the writer-ID check
// and page reads are sent. What the writer holds (job 8: CPU type, machine
// version, write counts, whether its memories area holds memories), and a
// memories file against the writer's memories (job 9, checked first as
// TRANSMIT MEMORIES checks it), and the ROM image read back (job 11).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "console/main_form.hpp"
#include "rom_data/memory_files.hpp"

namespace torvela {

void start_writer_info(main_form& f);
// The file is the chosen one (memory_file_path).
void start_memories_compare(main_form& f);

// Job 11: the ROM image area the writer holds (the ticked blocks of the
// chosen family's map) read back into the chosen file as S-records at the
// image's addresses, through the save's new-file-then-rename; reads only.
void start_rom_read(main_form& f);

using page_address = std::array<std::uint8_t, 2>;  // a store page (high, mid)
// The store pages of the ticked blocks of `family`'s map, ascending.
std::vector<page_address> rom_pages_to_read(const main_form& f, const cpu_family& family);
// The S-record text of those pages as read (blank pages left out); `written`
// counts the pages it holds.
std::string rom_image_text(const cpu_family& family, const std::vector<page_address>& store_pages,
                           const std::vector<page_bytes>& pages, int& written);

}  // namespace torvela
