#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "engine/writer_id.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"

namespace torvela {

namespace {
enum erase_all_row : std::uint8_t { erase_all_echo = 3, erase_all_verdict = 31 };
}  // namespace

void allunlock_erase_Click(main_form& f) {
    if (f.engine_step != 0 || f.job_no != 0) return;
    if (!f.msgbox.yes_no("OK TO ERASE ALL FLASH?", "TORVELA")) return;
    for (int n = 5; n <= 9; ++n) f.image(n).visible = false;
    for (int n = 12; n <= 16; ++n) f.image(n).visible = false;
    if (!open_port_with_busy_indicator(f)) return;
    f.Check10.value = 0;
    f.block_filter_on = 1;
    f.block_write_mode = 0;
    for (int i = 0; i <= 8; ++i) f.fblock(i).caption = "1";
    begin_job(f, 7);
}

void job7_phase99(main_form& f) {
    f.Label9.caption = "START TO ERASE ALL FLASH  ";
    start_writer_id_check(f);
}

void job7_phase12(main_form& f) {
    start_exchange(f, erase_all_exchange);
}

void job7_phase2(main_form& f) {
    end_job(f, {outcome::success, "ALL FLASH ERASE COMPLETE", indicator::spinner_and_arrows, port_after::closed});
}

// A7 A7, the echo, the go-ahead, the verdict once the flash is blank.
constexpr exchange_step erase_all_steps[] = {
    {.step = erase_all_echo, .wait = awaits::echo, .code = protocol::erase_all, .status = "ERASE NOW!", .then = sends::go_ahead,
     .next = erase_all_verdict},
    {.step = erase_all_verdict, .wait = awaits::verdict, .status = "ALL FLASH ERASE COMPLETE", .ends = true},
};
const exchange erase_all_exchange = {"erase all flash", protocol::erase_all, erase_all_steps, 2};

}  // namespace torvela
