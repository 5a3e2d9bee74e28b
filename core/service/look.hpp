// Looks at the writer that change nothing on it: only the writer-ID check
// and page reads are sent. What the writer holds (job 8: CPU type, machine
// version, write counts, whether its memories area holds memories), and a
// memories file against the writer's memories (job 9, checked first as
// TRANSMIT MEMORIES checks it).
#pragma once

#include "console/main_form.hpp"

namespace torvela {

void start_writer_info(main_form& f);
// The file is the chosen one (memory_file_path).
void start_memories_compare(main_form& f);

}  // namespace torvela
