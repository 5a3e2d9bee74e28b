#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "service/writer_id.hpp"

namespace torvela {

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
    f.job_no = 7;
    f.job_phase = 99;
    f.verify_retries = 0;
}

void job7_phase99(main_form& f) {
    f.Label9.caption = "START TO ERASE ALL FLASH  ";
    start_writer_id_check(f);
}

void job7_phase12(main_form& f) {
    send_command(f, 0xA7);
    f.engine_step = 3;
}

void job7_phase2(main_form& f) {
    f.job_no = 0;
    stop_busy_indicator(f, 9, false);
    close_port(f);
}

// The writer echoes 0xA7 0xA7; the go-ahead follows.
void step_3(main_form& f) {
    if (wait_ack(f, 0xA7, false) != wait_result::accepted) return;
    f.engine_step = 31;
    send_command(f, 0xD0);
    f.Label9.caption = "ERASE NOW!";
}

void step_31(main_form& f) {
    if (wait_ack(f, 0xD0, true) != wait_result::accepted) return;
    f.engine_step = 0;
    f.Label9.caption = "ALL FLASH ERASE COMPLETE";
    f.job_phase = 2;
}

}  // namespace torvela
