#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

void read_block_checks(main_form& f) {
    if (f.cpu_is_m32r == 1) {
        for (int n = 1; n <= 9; ++n)
            if (f.check(n).value == 1) f.block_select[static_cast<std::size_t>(n - 1)] = 1;
    } else if (f.cpu_is_m16c == 1) {
        // Check1 is block 6, Check7 block 0. The block sender reads only
        // block_select, so this choice sends nothing (and reports nothing).
        for (int n = 1; n <= 7; ++n)
            if (f.check(n).value == 1) f.m16c_block_select[static_cast<std::size_t>(7 - n)] = 1;
    }
}

void read_erase_block_checks(main_form& f) {
    for (int n = 3; n <= 9; ++n)
        if (f.check(n).value == 1) f.block_select[static_cast<std::size_t>(n - 1)] = 1;
}

bool start_job_erase(main_form& f, const check_ticks& ticks) {
    for (int n = 1; n <= 9; ++n) {
        const tick t = ticks[static_cast<std::size_t>(n - 1)];
        if (t != tick::keep) f.check(n).value = t == tick::on ? 1 : 0;
    }
    f.block_select.fill(0);
    f.m16c_block_select.fill(0);
    read_erase_block_checks(f);
    if (!block_to_send(f)) return false;
    f.engine_step = 4;
    return true;
}

void block_erase_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    f.block_select.fill(0);
    f.m16c_block_select.fill(0);
    if (!f.msgbox.yes_no("FLASH MEMORIE BLOCK DELITE?", "BLOCK DELITE CHECK")) return;
    read_block_checks(f);
    f.engine_step = 4;
}

void step_4(main_form& f) {
    f.tx_frame = {protocol::block_erase, protocol::block_erase};
    send_block_command(f);
}

void step_41(main_form& f) {
    if (wait_ack(f, protocol::block_erase, answer::echo) != wait_result::accepted) return;
    send_block_frame(f, 42);
}

void step_42(main_form& f) {
    if (wait_ack(f, protocol::done, answer::verdict) != wait_result::accepted) return;
    f.engine_step = 4;
    report(f, outcome::success, "BLOCK ERASE OK");
    f.job_phase = 3;
}

}  // namespace torvela
