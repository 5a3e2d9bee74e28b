#include "service/confirm_commands.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"

namespace torvela {

namespace {

bool echoed(main_form& f, std::uint8_t code) { return wait_ack(f, code, false) == wait_result::accepted; }

// The final D0 D0; AC AC gives `refusal`.
bool confirmed(main_form& f, const char* refusal) {
    return wait_ack(f, 0xD0, true, false, refusal) == wait_result::accepted;
}

}  // namespace

void swon_en_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    start_family(f, 0x25, 101);
}

void target_write_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ROM WRITER -> TARGET DIRECT WRITE?", "ROM WRITER -> TARGET DIRECT WRITE CHECK"))
        return;
    // The timers ran while the box was open.
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    start_family(f, 0xC5, 111);
}

void step_101(main_form& f) {
    if (!echoed(f, 0x25)) return;
    f.engine_step = 102;
    send_command(f, 0xD0);
    f.Label9.caption = "SWITCH OPERATION SET NOW!";
}

void step_102(main_form& f) {
    if (!confirmed(f, "INSTALLER ERROR")) return;
    f.engine_step = 0;
    f.Label9.caption = "SWITCH OPERATION OK";
    f.job_phase = 8;
}

void step_111(main_form& f) {
    if (!echoed(f, 0xC5)) return;
    f.engine_step = 112;
    f.Label9.caption = "TARGET WRITE NOW!";
    send_command(f, 0xD0);
}

// The writer programs the target: this wait has no time limit.
void step_112(main_form& f) {
    if (!confirmed(f, "TARGET WRITE ERROR")) return;
    f.engine_step = 0;
    f.Label9.caption = "TARGET WRITE NOW!";
    f.job_phase = 10;
}

void step_171(main_form& f) {
    if (!echoed(f, 0x75)) return;
    f.engine_step = 172;
    send_command(f, 0xD0);
    f.Label9.caption = "CPU TYPE CHECK NOW!";
}

void step_172(main_form& f) {
    if (!confirmed(f, "INSTALLER ERROR")) return;
    f.engine_step = 0;
    f.Label9.caption = "CPU TYPE CHECK OK";
    f.job_phase = 15;
}

}  // namespace torvela
