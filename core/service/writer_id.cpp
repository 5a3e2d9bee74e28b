#include "service/writer_id.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "writer_ids.hpp"

namespace torvela {

std::array<std::uint8_t, id_frame_len> build_id_frame() {
    std::array<std::uint8_t, id_frame_len> frame{};  // byte 10 stays 0
    frame[0] = 0xDF;
    frame[1] = 0xFF;
    frame[2] = 0x07;
    for (std::size_t i = 0; i < writer_id_code.size(); ++i) frame[3 + i] = writer_id_code[i];
    return frame;
}

void start_writer_id_check(main_form& f) {
    send_command(f, 0xF5);
    f.engine_step = 5;
}

void id_check_Click(main_form& f) {
    if (f.memory_file_path.empty() || !f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ID CHECK?", "ID CHECK")) return;
    start_writer_id_check(f);
}

// The writer echoes 0xF5 0xF5; the ID frame follows.
void step_5(main_form& f) {
    if (wait_ack(f, 0xF5, false) != wait_result::accepted) return;
    const auto frame = build_id_frame();
    send_bytes(f, frame);
    f.engine_step = 51;
}

// D0 D0: the writer knows the code; AC AC: it refuses it.
void step_51(main_form& f) {
    if (wait_ack(f, 0xD0, true) != wait_result::accepted) return;
    f.engine_step = 0;
    f.Label9.caption = "CHECK WRITER-ID OK";
    f.job_phase = 12;
}

}  // namespace torvela
