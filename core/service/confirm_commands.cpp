#include "service/confirm_commands.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

namespace {

bool echoed(main_form& f, std::uint8_t code) { return wait_ack(f, code, answer::echo) == wait_result::accepted; }

// The final D0 D0; AC AC gives `refusal`.
bool confirmed(main_form& f, const char* refusal) {
    return wait_ack(f, protocol::done, answer::verdict, file1::stays, refusal) == wait_result::accepted;
}

}  // namespace

void swon_en_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    start_family(f, protocol::switch_operation, 101);
}

void target_write_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ROM WRITER -> TARGET DIRECT WRITE?", "ROM WRITER -> TARGET DIRECT WRITE CHECK"))
        return;
    // The timers ran while the box was open.
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    start_family(f, protocol::target_write, 111);
}

void step_101(main_form& f) {
    if (!echoed(f, protocol::switch_operation)) return;
    f.engine_step = 102;
    send_command(f, protocol::go_ahead);
    f.Label9.caption = "SWITCH OPERATION SET NOW!";
}

void step_102(main_form& f) {
    if (!confirmed(f, "INSTALLER ERROR")) return;
    f.engine_step = 0;
    report(f, outcome::success, "SWITCH OPERATION OK");
    f.job_phase = 8;
}

void step_111(main_form& f) {
    if (!echoed(f, protocol::target_write)) return;
    f.engine_step = 112;
    f.Label9.caption = "TARGET WRITE NOW!";
    send_command(f, protocol::go_ahead);
}

// The writer programs the target: this wait has no time limit.
void step_112(main_form& f) {
    if (!confirmed(f, "TARGET WRITE ERROR")) return;
    f.engine_step = 0;
    report(f, outcome::success, "TARGET WRITE NOW!");
    f.job_phase = 10;
}

void step_171(main_form& f) {
    if (!echoed(f, protocol::cpu_type_check)) return;
    f.engine_step = 172;
    send_command(f, protocol::go_ahead);
    f.Label9.caption = "CPU TYPE CHECK NOW!";
}

void step_172(main_form& f) {
    if (!confirmed(f, "INSTALLER ERROR")) return;
    f.engine_step = 0;
    report(f, outcome::success, "CPU TYPE CHECK OK");
    f.job_phase = 15;
}

}  // namespace torvela
