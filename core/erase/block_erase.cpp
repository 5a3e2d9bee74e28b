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
    }
    // With the M16C map (Check1 block 6 .. Check7 block 0) no block is put
    // in block_select: the block sender sends nothing and reports nothing.
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
    read_erase_block_checks(f);
    if (!block_to_send(f)) return false;
    start_exchange(f, block_erase_exchange);
    return true;
}

void block_erase_Click(main_form& f) {
    if (!f.MSComm1.PortOpen() || f.engine_step != 0 || f.job_no != 0) return;
    f.block_select.fill(0);
    if (!f.msgbox.yes_no("FLASH MEMORIE BLOCK DELITE?", "BLOCK DELITE CHECK")) return;
    read_block_checks(f);
    start_exchange(f, block_erase_exchange);
}

namespace {

// The rows of a block's erase: the next block, its echo, its verdict.
enum erase_row : std::uint8_t { erase_next = 4, erase_echo = 41, erase_verdict = 42 };

// The next chosen block's command, or the end when none is left.
void next_block(main_form& f) {
    f.tx_frame = {protocol::block_erase, protocol::block_erase};
    send_block_command(f, erase_echo);
}

// Per block: 20 20, the echo, the block frame, the verdict; then the next.
constexpr exchange_step block_erase_steps[] = {
    {.step = erase_next, .body = next_block},
    {.step = erase_echo, .wait = awaits::echo, .code = protocol::block_erase, .then = sends::block_frame, .next = erase_verdict},
    {.step = erase_verdict, .wait = awaits::verdict, .status = "BLOCK ERASE OK", .next = erase_next, .ends = true},
};

}  // namespace

const exchange block_erase_exchange = {"block erase", no_command, block_erase_steps, 3};

}  // namespace torvela
