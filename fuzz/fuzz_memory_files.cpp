// Feeds arbitrary bytes to the readers of memory files: the file choice, the
// ROM data conversion (S-records), the memories-file check and page reader
// with its page blocks. Nothing a file holds may read or write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "harness.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/seq_files.hpp"

namespace {

struct fixture {
    writer_sim::rig r;
    torvela::private_work_folder dir;
    std::string path = dir.file("input.dat");
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fixture fx;
    if (std::FILE* fp = std::fopen(fx.path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, fp);
        std::fclose(fp);
    }
    torvela::main_form& f = *fx.r.form;
    fx.r.dlg.files.push_back(fx.path);
    torvela::file_select_Click(f);

    // As a ROM data file.
    f.memory_file_path = fx.path;
    torvela::convert_rom_data_file(f);
    f.privious_id_match.value = size > 0 && (data[0] & 1);
    f.ID.caption.assign(reinterpret_cast<const char*>(data), size < 40 ? size : 40);
    f.block_write_mode = size > 1 && (data[1] & 1);
    torvela::build_control_file(f);
    if (fx.r.files.open_input(1, f.image_file_path)) {
        f.pass_flag = 1;
        for (int guard = 0; guard < 4000 && !fx.r.files.eof(1); ++guard) {
            torvela::next_image_page(f);
            if (fx.r.files.eof(1)) break;
            torvela::read_page_block(f);
        }
        fx.r.files.close(1);
    }

    // As a memories file: the whole-file check, then the page reader.
    std::string copy;
    torvela::check_memories_file(fx.path, copy);
    if (fx.r.files.open_input(1, fx.path)) {
        for (int guard = 0; guard < 4000 && !fx.r.files.eof(1); ++guard) {
            torvela::next_memories_page(f);
            torvela::memories_page_block(f);
        }
        fx.r.files.close(1);
    }
    return 0;
}
