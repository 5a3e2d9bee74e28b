#include "service/confirm_commands.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

namespace {
// The rows of the one-command exchanges: the echo, then the verdict (the
// target write's verdict row is the engine's unwatched step).
enum confirm_row : std::uint8_t {
    switch_echo = 101, switch_verdict = 102, target_echo = 111, cpu_check_echo = 171, cpu_check_verdict = 172,
};
}  // namespace

// Each: the command, its echo, the go-ahead, the verdict (AC AC gives the
// refusal text).
constexpr exchange_step switch_steps[] = {
    {.step = switch_echo, .wait = awaits::echo, .code = protocol::switch_operation, .status = "SWITCH OPERATION SET NOW!",
     .then = sends::go_ahead, .next = switch_verdict},
    {.step = switch_verdict, .wait = awaits::verdict, .status = "SWITCH OPERATION OK", .ends = true},
};
const exchange switch_exchange = {"switch operation set", protocol::switch_operation, switch_steps, 8};

// The writer programs the target: the verdict's wait has no time limit.
constexpr exchange_step target_write_steps[] = {
    {.step = target_echo, .wait = awaits::echo, .code = protocol::target_write, .status = "TARGET WRITE NOW!",
     .then = sends::go_ahead, .next = unwatched_step},
    {.step = unwatched_step, .wait = awaits::verdict, .refusal = "TARGET WRITE ERROR", .status = "TARGET WRITE NOW!",
     .ends = true},
};
const exchange target_write_exchange = {"target write", protocol::target_write, target_write_steps, 10};

constexpr exchange_step cpu_check_steps[] = {
    {.step = cpu_check_echo, .wait = awaits::echo, .code = protocol::cpu_type_check, .status = "CPU TYPE CHECK NOW!",
     .then = sends::go_ahead, .next = cpu_check_verdict},
    {.step = cpu_check_verdict, .wait = awaits::verdict, .status = "CPU TYPE CHECK OK", .ends = true},
};
const exchange cpu_check_exchange = {"CPU type check", protocol::cpu_type_check, cpu_check_steps, 15};

void swon_en_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    start_exchange(f, switch_exchange);
}

void target_write_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("ROM WRITER -> TARGET DIRECT WRITE?", "ROM WRITER -> TARGET DIRECT WRITE CHECK"))
        return;
    // The timers ran while the box was open.
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    start_exchange(f, target_write_exchange);
}

}  // namespace torvela
