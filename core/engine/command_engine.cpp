#include "engine/engine.hpp"

#include <algorithm>
#include <array>

#include "engine/steps.hpp"
#include "link/link.hpp"
#include "rom_data/seq_files.hpp"

namespace torvela {

namespace {

constexpr step_entry erase_all_steps[] = {{3, step_3}, {31, step_31}};
constexpr step_entry block_erase_steps[] = {{4, step_4}, {41, step_41}, {42, step_42}};
constexpr step_entry writer_id_steps[] = {{5, step_5}, {51, step_51}};

// One row per step family; a family's steps in the order its exchange runs.
constexpr step_family families[] = {
    {"erase all flash", erase_all_steps, 2},
    {"block erase", block_erase_steps, 3},
    {"writer-ID check", writer_id_steps, 12},
};

// Direct lookup by step value, built once from the family rows.
struct step_index {
    std::array<step_body, 256> body{};
    constexpr step_index() {
        for (const step_family& fam : families)
            for (const step_entry& e : fam.steps) body[e.step] = e.body;
    }
};
constexpr step_index index{};

void reset_busy_pictures(main_form& f) {
    f.Timer3.enabled = false;
    f.Image1.visible = true;
    for (int n = 2; n <= 9; ++n) f.image(n).visible = false;
    for (int n = 12; n <= 16; ++n) f.image(n).visible = false;
}

void close_if_open(main_form& f) {
    if (f.MSComm1.PortOpen()) {
        f.MSComm1.PortOpen(false);
        f.Combo1.caption = stop_text;
    }
    f.port_held = false;
}

void watchdog(main_form& f) {
    const std::uint8_t s = f.engine_step;
    if (s == 0 || s == unwatched_step || s != f.last_step) {
        f.last_step = s;
        f.watchdog_ticks = watchdog_reload;
        return;
    }
    f.watchdog_ticks = static_cast<std::int16_t>(f.watchdog_ticks - 1);
    if (f.watchdog_ticks >= 0) return;
    // The exchange stood still for 751 ticks.
    f.files.close(1);
    f.Label9.caption = "COMMUNICATION ERROR";
    f.engine_step = 0;
    f.job_no = 0;
    reset_busy_pictures(f);
    f.last_step = 0;
    close_if_open(f);
    f.watchdog_ticks = watchdog_reload;
}

}  // namespace

std::span<const step_family> step_families() { return families; }

step_body find_step(std::uint8_t step) { return index.body[step]; }

void abort_sequence(main_form& f, const char* message, bool close_file1) {
    if (close_file1) f.files.close(1);
    f.engine_step = 0;
    f.Label9.caption = message;
    f.job_no = 0;
    reset_busy_pictures(f);
    close_if_open(f);
}

void end_job_keep_port(main_form& f, const char* message) {
    f.Label9.caption = message;
    f.job_no = 0;
    reset_busy_pictures(f);
}

wait_result wait_ack(main_form& f, std::uint8_t code, bool finishing) {
    if (!reply_read(f, ack_len)) return wait_result::waiting;
    if (ack(f, code)) return wait_result::accepted;
    if (finishing && ack(f, 0xAC))
        abort_sequence(f, "INSTALLER ERROR");
    else
        abort_sequence(f, "COMMUNICATION ERROR");
    return wait_result::aborted;
}

void Timer1_Timer(main_form& f) {
    if (!f.MSComm1.PortOpen()) {
        f.Label1.caption = stop_text;
        if (f.port_held) {
            // The port went away under the tool (adapter unplugged, a send or
            // read the platform refused): an exchange or job cannot go on.
            f.port_held = false;
            f.Combo1.caption = stop_text;
            if (f.engine_step != 0 || f.job_no != 0)
                abort_sequence(f, "COMMUNICATION ERROR", true);
        }
        return;
    }
    f.Label1.caption = keep_text;
    if (f.engine_step != 0)
        if (step_body body = find_step(f.engine_step)) body(f);
    // A body may have lost the port; the watchdog still runs for this tick.
    watchdog(f);
}

}  // namespace torvela
