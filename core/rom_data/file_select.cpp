#include "rom_data/memory_files.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"
#include "rom_data/file_text.hpp"

namespace torvela {

void file_select_Click(main_form& f) {
    // File 1 belongs to a running transfer; a new choice waits for its end.
    if (f.job_no != 0 || f.engine_step != 0) return;
    f.memory_file_path = f.dialog.open_file(memory_file_filter);
    f.Label10.caption = f.memory_file_path;
    f.cpu_is_m32r = 0;
    f.cpu_is_m16c = 0;
    if (f.memory_file_path.empty()) {
        f.Label2.caption = "FILEERROR";
        return;
    }
    f.ramdata_store.visible = false;
    f.ramdata_get.visible = false;
    // What cannot be read cannot be told apart from saved memories: it is
    // offered for nothing, and never replaced.
    const save_target target = check_save_target(path_from_utf8(f.memory_file_path));
    if (target == save_target::not_a_file || target == save_target::unreadable) {
        f.Label2.caption = "FILEERROR";
        f.Label9.caption = "FILE OPEN ERROR";
        return;
    }
    f.ramdata_get.visible = true;
    if (target == save_target::new_file) return;
    // Only a regular file is opened, and every line read is bounded.
    if (!f.files.open_input(1, f.memory_file_path)) return;
    if (!f.files.eof(1)) {
        const std::string first = f.files.read_line(1, header_len);
        f.first_line_bytes = first;
        if (is_memories_header(first)) {
            const std::string cpu = f.files.read_line(1);
            if (family_called(cpu)) {
                if (f.files.read_line(1) == "00000000") {
                    f.ramdata_store.visible = true;
                    f.ramdata_get.visible = false;
                }
            }
        }
    }
    f.files.close(1);
}

}  // namespace torvela
