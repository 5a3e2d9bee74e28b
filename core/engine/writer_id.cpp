#include "engine/writer_id.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

std::array<std::uint8_t, id_frame_len> build_id_frame() {
    std::array<std::uint8_t, id_frame_len> frame{};  // byte 10 stays 0
    frame[0] = protocol::writer_id_mark[0];
    frame[1] = protocol::writer_id_mark[1];
    frame[2] = static_cast<std::uint8_t>(protocol::writer_id_code.size());
    for (std::size_t i = 0; i < protocol::writer_id_code.size(); ++i) frame[3 + i] = protocol::writer_id_code[i];
    return frame;
}

void start_writer_id_check(main_form& f) {
    start_family(f, protocol::writer_id, 5);
}

void id_check_Click(main_form& f) {
    if (f.memory_file_path.empty() || !f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ID CHECK?", "ID CHECK")) return;
    start_writer_id_check(f);
}

// The writer echoes 0xF5 0xF5; the ID frame follows.
void step_5(main_form& f) {
    if (wait_ack(f, protocol::writer_id, answer::echo) != wait_result::accepted) return;
    const auto frame = build_id_frame();
    send_bytes(f, frame);
    f.engine_step = 51;
}

// D0 D0: the writer knows the code; AC AC: it refuses it.
void step_51(main_form& f) {
    if (wait_ack(f, protocol::done, answer::verdict) != wait_result::accepted) return;
    f.engine_step = 0;
    report(f, outcome::success, "CHECK WRITER-ID OK");
    f.job_phase = 12;
}

}  // namespace torvela
