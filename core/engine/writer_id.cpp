#include "engine/writer_id.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

namespace {
// The rows of the writer-ID check: the echo of F5 F5, the verdict on the ID frame.
enum id_row : std::uint8_t { id_echo = 5, id_verdict = 51 };
}  // namespace

std::array<std::uint8_t, id_frame_len> build_id_frame() {
    std::array<std::uint8_t, id_frame_len> frame{};  // byte 10 stays 0
    frame[0] = protocol::writer_id_mark[0];
    frame[1] = protocol::writer_id_mark[1];
    frame[2] = static_cast<std::uint8_t>(protocol::writer_id_code.size());
    for (std::size_t i = 0; i < protocol::writer_id_code.size(); ++i) frame[3 + i] = protocol::writer_id_code[i];
    return frame;
}

void start_writer_id_check(main_form& f) {
    start_exchange(f, writer_id_exchange);
}

void id_check_Click(main_form& f) {
    if (f.memory_file_path.empty() || !f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ID CHECK?", "ID CHECK")) return;
    start_writer_id_check(f);
}

// F5 F5, the echo, the ID frame; D0 D0: the writer knows the code, AC AC:
// it refuses it.
constexpr exchange_step writer_id_steps[] = {
    {.step = id_echo, .wait = awaits::echo, .code = protocol::writer_id, .then = sends::id_frame, .next = id_verdict},
    {.step = id_verdict, .wait = awaits::verdict, .status = "CHECK WRITER-ID OK", .ends = true},
};
const exchange writer_id_exchange = {"writer-ID check", protocol::writer_id, writer_id_steps, 12};

}  // namespace torvela
