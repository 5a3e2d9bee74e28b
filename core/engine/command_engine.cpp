#include "engine/engine.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>

#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

constexpr step_entry verify_steps[] = {{1, step_1}, {10, step_10}, {11, step_11}, {12, step_12}};
constexpr step_entry page_write_steps[] = {{2, step_2}, {21, step_21}};
constexpr step_entry memories_write_steps[] = {{181, step_181}, {182, step_182}};
constexpr step_entry erase_all_steps[] = {{3, step_3}, {31, step_31}};
constexpr step_entry lock_set_steps[] = {{6, step_6}, {61, step_61}, {62, step_62}};
constexpr step_entry lock_read_steps[] = {{7, step_7}, {71, step_71}, {72, step_72}};
constexpr step_entry lock_enable_steps[] = {{8, step_8}, {81, step_81}};
constexpr step_entry lock_disable_steps[] = {{9, step_9}, {91, step_91}};
constexpr step_entry write_count_steps[] = {{121, step_121}, {122, step_122}};
constexpr step_entry switch_steps[] = {{101, step_101}, {102, step_102}};
constexpr step_entry target_write_steps[] = {{111, step_111}, {112, step_112}};
constexpr step_entry cpu_check_steps[] = {{171, step_171}, {172, step_172}};
constexpr step_entry memories_read_steps[] = {{131, step_131}, {134, step_134}, {132, step_132}, {133, step_133}};
constexpr step_entry memories_verify_steps[] = {{141, step_141}, {144, step_144}, {142, step_142}, {143, step_143}};
constexpr step_entry cpu_read_steps[] = {{151, step_151}, {154, step_154}, {152, step_152}};
constexpr step_entry version_read_steps[] = {{161, step_161}, {164, step_164}, {162, step_162}};
constexpr step_entry installer_steps[] = {{191, step_191}, {194, step_194}, {192, step_192}};
constexpr step_entry version_check_steps[] = {{201, step_201}, {204, step_204}, {202, step_202}};
constexpr step_entry memory_full_steps[] = {{211, step_211}, {214, step_214}, {212, step_212}};
constexpr step_entry block_erase_steps[] = {{4, step_4}, {41, step_41}, {42, step_42}};
constexpr step_entry writer_id_steps[] = {{5, step_5}, {51, step_51}};

// One row per step family; a family's steps in the order its exchange runs.
constexpr step_family families[] = {
    {"verify one page of the image or control file", verify_steps, 9},
    {"transmit one page of the image or control file", page_write_steps, 1},
    {"transmit one page of a memories file", memories_write_steps, 1},
    {"erase all flash", erase_all_steps, 2},
    {"block erase", block_erase_steps, 3},
    {"writer-ID check", writer_id_steps, 12},
    {"lock bit set", lock_set_steps, 5},
    {"lock bit read", lock_read_steps, 0},
    {"lock enable", lock_enable_steps, 6},
    {"lock disable", lock_disable_steps, 7},
    {"switch operation set", switch_steps, 8},
    {"target write", target_write_steps, 10},
    {"CPU type check", cpu_check_steps, 15},
    {"writer write-count read", write_count_steps, 12},
    {"memories page read", memories_read_steps, 11},
    {"verify memories pages", memories_verify_steps, 13},
    {"CPU type read", cpu_read_steps, 15},
    {"machine version read", version_read_steps, 14},
    {"installer mode check", installer_steps, 16},
    {"machine version check", version_check_steps, 14},
    {"memory full check", memory_full_steps, 14},
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

void watchdog(main_form& f) {
    const std::uint8_t s = f.engine_step;
    if (s == 0 || s == unwatched_step || s != f.last_step) {
        f.last_step = s;
        f.watchdog_ticks = watchdog_reload;
        return;
    }
    f.watchdog_ticks = static_cast<std::int16_t>(f.watchdog_ticks - 1);
    if (f.watchdog_ticks >= 0) return;
    // The exchange stood still for the whole watchdog time.
    abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file1::close);
}

}  // namespace

std::span<const step_family> step_families() { return families; }

step_body find_step(std::uint8_t step) { return index.body[step]; }

void begin_job(main_form& f, std::uint8_t job_no) {
    f.job_no = job_no;
    f.job_phase = 99;
    f.verify_retries = 0;
    f.last_outcome = outcome::none;
    f.MSComm1.note("job " + std::to_string(job_no) + " begins");
}

void end_job(main_form& f, const job_end& how) {
    if (how.file == file1::close) f.files.close(1);
    const std::uint8_t job = f.job_no;
    f.engine_step = 0;
    if (how.text) f.Label9.caption = how.text;
    f.last_outcome = how.result;
    f.job_no = 0;
    stop_busy_indicator(f, how.busy);
    if (how.port == port_after::closed) close_port(f);
    // A save that ends before its commit leaves no file behind.
    f.save.discard();
    if (job != 0) f.MSComm1.note("job " + std::to_string(job) + " ends: " + f.Label9.caption);
}

void report(main_form& f, outcome result, const char* text) {
    f.Label9.caption = text;
    f.last_outcome = result;
}

void abort_sequence(main_form& f, outcome why, const char* message, file1 file) {
    end_job(f, {why, message, indicator::all, port_after::closed, file});
    // However the exchange ended (a reply, the watchdog, a closed or lost
    // port), the next one starts with the whole watchdog time.
    f.last_step = 0;
    f.watchdog_ticks = watchdog_reload;
}

namespace {

// An exception that reached a front end's call: the operation ends as a
// failed exchange would, and the program goes on.
void contain(main_form& f, const char* what, bool file_error) {
    try {
        f.MSComm1.note(std::string("internal error: ") + what);
        f.files.close(2);
        abort_sequence(f, outcome::internal_error, file_error ? "FILE OPEN ERROR" : "COMMUNICATION ERROR",
                       file1::close);
    } catch (...) {
        // Nothing more can be done safely; the next tick finds the port
        // closed or the job over.
        f.engine_step = 0;
        f.job_no = 0;
    }
}

template <class Body>
void barrier(main_form& f, Body body) {
    try {
        body();
    } catch (const std::filesystem::filesystem_error& e) {
        contain(f, e.what(), true);
    } catch (const std::exception& e) {
        contain(f, e.what(), false);
    } catch (...) {
        contain(f, "an exception of unknown type", false);
    }
}

}  // namespace

void guarded(main_form& f, void (*handler)(main_form&)) {
    barrier(f, [&] { handler(f); });
}

wait_result wait_ack(main_form& f, std::uint8_t code, answer kind, file1 file, const char* refusal) {
    if (!reply_read(f, ack_len)) return wait_result::waiting;
    if (ack(f, code)) return wait_result::accepted;
    if (kind == answer::verdict && ack(f, protocol::refused))
        abort_sequence(f, outcome::writer_refused, refusal, file);
    else
        abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file);
    return wait_result::aborted;
}

void start_family(main_form& f, std::uint8_t code, std::uint8_t step) {
    send_command(f, code);
    f.engine_step = step;
}

void engine_tick(main_form& f);

void Timer1_Timer(main_form& f) {
    barrier(f, [&] { engine_tick(f); });
}

void engine_tick(main_form& f) {
    if (!f.MSComm1.PortOpen()) {
        f.Label1.caption = stop_text;
        // The port went away under the tool (adapter unplugged, a send or
        // read the platform refused), or the operator disconnected: an
        // exchange or job cannot go on, and none may wait, dead, for a
        // Connect that would find it half-way.
        if (f.port_held) f.Combo1.caption = stop_text;
        f.port_held = false;
        if (f.engine_step != 0 || f.job_no != 0)
            abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file1::close);
        return;
    }
    f.Label1.caption = keep_text;
    if (f.engine_step != 0)
        if (step_body body = find_step(f.engine_step)) body(f);
    // A body may have lost the port; the watchdog still runs for this tick.
    watchdog(f);
}

}  // namespace torvela
