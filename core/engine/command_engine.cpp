#include "engine/engine.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>

#include "console/cpu_family.hpp"
#include "console/status_texts.hpp"
#include "engine/steps.hpp"
#include "engine/writer_id.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

// Every exchange the engine runs.
constexpr const exchange* all_exchanges[] = {
    &verify_exchange,          &page_write_exchange,   &memories_write_exchange,
    &erase_all_exchange,       &block_erase_exchange,  &writer_id_exchange,
    &lock_set_exchange,        &lock_read_exchange,    &lock_enable_exchange,
    &lock_disable_exchange,    &switch_exchange,       &target_write_exchange,
    &cpu_check_exchange,       &write_count_exchange,  &memories_read_exchange,
    &memories_verify_exchange, &cpu_read_exchange,     &version_read_exchange,
    &installer_exchange,       &version_check_exchange, &memory_full_check_exchange,
    &look_read_exchange,
};

// Direct lookup by step value, built on first use from the exchanges.
const std::array<step_row, 256>& step_index() {
    static const std::array<step_row, 256> index = [] {
        std::array<step_row, 256> rows{};
        for (const exchange* x : all_exchanges)
            for (const exchange_step& r : x->steps) rows[r.step] = {x, &r};
        return rows;
    }();
    return index;
}

// The exchange under way, by name, for a message; its step goes to the
// trace only.
std::string exchange_at(const main_form& f) {
    if (f.engine_step == 0) {
        f.MSComm1.note("between the exchanges of job " + std::to_string(f.job_no) + ", phase " +
                       std::to_string(f.job_phase));
        return std::string("the ") + job_name(f.job_no) + ", between its exchanges";
    }
    const step_row at = find_step(f.engine_step);
    f.MSComm1.note(std::string("in ") + (at.of ? at.of->name : "an exchange") + " at step " +
                   std::to_string(f.engine_step));
    return at.of ? at.of->name : "an exchange";
}

constexpr const char* check_the_line =
    "check that the writer is switched on and its cable is in this port; if it is, switch it off and on (it may "
    "still be waiting for the rest of a frame), then try again";

// One tick of the row engine_step names.
void run_row(main_form& f, const exchange& x, const exchange_step& r) {
    switch (r.wait) {
    case awaits::nothing:
        break;
    case awaits::echo:
        if (wait_ack(f, r.code, answer::echo, r.file) != wait_result::accepted) return;
        break;
    case awaits::verdict:
        if (wait_ack(f, protocol::done, answer::verdict, r.file, r.refusal ? r.refusal : installer_error) !=
            wait_result::accepted)
            return;
        break;
    case awaits::bytes:
        if (!reply_read(f, r.count)) return;
        break;
    }
    if (r.body) {
        r.body(f);
        return;
    }
    f.engine_step = r.next;
    if (r.ends) {
        report(f, outcome::success, r.status);
        f.job_phase = x.completion;
        return;
    }
    if (r.status) f.Label9.caption = r.status;
    switch (r.then) {
    case sends::nothing:
        break;
    case sends::go_ahead:
        send_command(f, protocol::go_ahead);
        break;
    case sends::address_frame:
        send_address_frame(f);
        break;
    case sends::id_frame:
        send_bytes(f, build_id_frame());
        break;
    case sends::block_frame:
        send_block_frame(f, r.next);
        break;
    }
}

// Before the job's first command: whatever the writer sends now answers
// nothing this job asked (the rest of a page an interrupted job asked
// for), and is thrown away; the line is quiet once nothing came for a while.
void listen_for_quiet(main_form& f) {
    if (f.quiet_waited < quiet_line_bound_ticks) ++f.quiet_waited;
    const int waiting = f.MSComm1.InBufferCount();
    if (waiting <= 0) {
        if (f.quiet_ticks < quiet_line_ticks) ++f.quiet_ticks;
        return;
    }
    f.quiet_ticks = 0;
    const std::string stale = f.MSComm1.Input();
    f.MSComm1.InputLen(0);
    f.MSComm1.note(std::to_string(stale.size()) + " bytes came before the job's first command (" +
                   hex(std::string_view(stale).substr(0, 16)) +
                   (stale.size() > 16 ? " ..." : "") + "), no answer to it: the writer was still answering " +
                   "an earlier job; discarded");
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
    // The exchange stood still for the whole watchdog time.
    f.detail = "nothing came back from the writer on " + port_named(f) + " within " +
               std::to_string((watchdog_reload + 1) * 4 / 1000) + " s in " + exchange_at(f) + "; " + check_the_line;
    abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file1::close);
}

}  // namespace

std::span<const exchange* const> exchanges() { return all_exchanges; }

step_row find_step(std::uint8_t step) { return step_index()[step]; }

void start_exchange(main_form& f, const exchange& x) {
    // An exchange a button starts on its own is an operation of its own.
    if (f.job_no == 0 && f.engine_step == 0) {
        f.detail.clear();
        f.shop_note.clear();
        f.writer_changed = false;
        f.changes = {};
    }
    if (x.command != no_command) send_command(f, x.command);
    f.engine_step = x.steps.front().step;
}

void exchange_done(main_form& f) {
    const step_row at = find_step(f.engine_step);
    f.engine_step = 0;
    if (at.of) f.job_phase = at.of->completion;
}

namespace {

std::string listed(const std::vector<std::string>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return out;
}

bool in_exchange(const main_form& f, const exchange& x) {
    return f.engine_step != 0 && find_step(f.engine_step).of == &x;
}

// The blocks this job erased, by their labels; the last one sent may be
// partly erased when its verdict did not come.
void erased_blocks(const main_form& f, std::vector<std::string>& done) {
    const main_form::writer_changes& c = f.changes;
    if (c.blocks.empty()) return;
    std::vector<std::string> whole;
    for (const int check : c.blocks) whole.push_back(block_named(f, check));
    std::string partly;
    if (in_exchange(f, block_erase_exchange)) {
        partly = whole.back() + " may be partly erased";
        whole.pop_back();
    }
    if (!whole.empty()) done.push_back(listed(whole) + (whole.size() == 1 ? " was erased" : " were erased"));
    if (!partly.empty()) done.push_back(partly);
}

// A save, its backup and the ROM read make the chosen file anew.
bool writes_chosen_file(const main_form& f) { return saving_memories(f) || f.job_no == 11; }

// What a save that did not complete leaves: before its commit the writer
// and the chosen file are as they were; after it the file holds the unit
// and the writer's memories area is as far erased as the job got.
std::string save_now(const main_form& f) {
    const std::string& file = f.memory_file_path;
    if (!f.save.committed())
        return "nothing was erased: the writer is as it was, and " + file +
               (f.save.chosen_was_there() ? " was not changed" : " was not created");
    std::string now = file + " holds the saved memories, verified against the writer";
    if (!f.found.kept_unit.empty())
        now += ", and a copy is kept in " + f.found.kept_unit;
    else if (!f.found.unkept.empty())
        now += " (" + f.found.unkept + ")";
    if (!f.writer_changed) return now + "; the writer still holds them too: nothing was erased";
    std::vector<std::string> done;
    erased_blocks(f, done);
    return now + "; of the writer's memories area " + listed(done) + ": ERASE ALL FLASH before the writer takes " +
           "another unit, or TRANSMIT MEMORIES of " + file + " to put the unit back on it";
}

// What the erases, writes and locks sent in this job have left on the
// writer, and the way back to a writer that holds something whole.
std::string writer_now(const main_form& f) {
    const main_form::writer_changes& c = f.changes;
    std::vector<std::string> done;
    if (c.erase_all)
        done.push_back(in_exchange(f, erase_all_exchange) ? "its flash may be partly erased (ERASE ALL FLASH was under way)"
                                                           : "all its flash was erased");
    erased_blocks(f, done);
    const std::string& file = f.memory_file_path;
    const bool writing = in_exchange(f, memories_write_exchange) || in_exchange(f, page_write_exchange);
    const bool page_sent = writing && find_step(f.engine_step).of->steps.back().step == f.engine_step;
    // The control pages are the tool's own: counted apart from FILE's.
    if (c.control_pages > 0 && c.pages == 0)
        done.push_back(std::string(c.control_pass && writing ? "its control pages for " + file + " were being written"
                                                             : "its control pages for " + file + " were written") +
                       " (CPU code, blocks, ID code, write-count limit), none of the pages of " + file + " yet");
    if (c.pages > 0) {
        const bool file_writing = writing && !c.control_pass;
        const int whole = c.pages - (file_writing ? 1 : 0);
        const bool all = f.progress.what != main_form::page_progress::kind::write && !file_writing;
        // Of a block write, the pages of the chosen blocks only.
        const std::string of_file = " pages of " + file + (f.block_write_mode == 1 ? " in the chosen blocks" : "");
        std::string pages;
        if (all)
            pages = "all " + std::to_string(c.pages) + of_file + " were written to it";
        else
            pages = "it holds the first " + std::to_string(whole) + " of the " + std::to_string(f.progress.total) +
                    of_file;
        if (page_sent && file_writing) pages += " (page " + std::to_string(whole + 1) + " went and may be partly written)";
        done.push_back(pages);
    }
    if (c.locks) done.push_back("lock bits may be set");
    if (c.target) done.push_back("a target write was started");
    std::string now = "the writer was changed: " + listed(done);
    if (f.job_no == 6)
        now += "; it holds no whole unit: ERASE ALL FLASH, then TRANSMIT MEMORIES of " + file + " again (" +
               partial_unit_way_out(file) + ")";
    else
        now += "; run the operation again before the writer is used";
    if (c.pages > 0 || c.control_pages > 0) now += "; " + file + " itself was not changed";
    return now;
}

}  // namespace

void begin_job(main_form& f, std::uint8_t job_no) {
    f.detail.clear();
    f.shop_note.clear();
    f.writer_changed = false;
    f.changes = {};
    f.job_no = job_no;
    f.job_phase = 99;
    f.quiet_ticks = f.quiet_waited = 0;
    f.first_phase_waits = false;
    f.verify_retries = 0;
    f.last_outcome = outcome::none;
    f.MSComm1.note("job " + std::to_string(job_no) + " begins", serial_port::note_kind::job_begins);
}

void end_job(main_form& f, const job_end& how) {
    // Beside what went wrong, what the writer holds now (a save, and a
    // job stopped from outside, say so themselves).
    if (how.result != outcome::success && how.result != outcome::none && how.result != outcome::interrupted &&
        how.result != outcome::different) {
        std::string now;
        if (writes_chosen_file(f))
            // A failed commit (the new file neither pending nor in place)
            // has said what holds the memories already.
            now = f.save.active() || f.save.committed() ? save_now(f) : "";
        else if (f.writer_changed)
            now = writer_now(f);
        else if (f.detail.find("nothing was") == std::string::npos)
            now = "nothing was erased or written: the writer is as it was";
        if (!now.empty()) f.detail += (f.detail.empty() ? "" : "; ") + now;
    }
    if (how.file == file1::close) f.files.close(1);
    const std::uint8_t job = f.job_no;
    f.engine_step = 0;
    if (how.text) f.Label9.caption = how.text;
    f.last_outcome = how.result;
    ++f.outcomes;
    f.job_no = 0;
    f.progress.running = false;
    stop_busy_indicator(f, how.busy);
    if (how.port == port_after::closed) close_port(f);
    // A save that ends before its commit leaves no file behind.
    f.save.discard();
    const std::string note = failure_note(f);
    const std::string said = note.empty() ? "" : ": " + note;
    if (job != 0)
        f.MSComm1.note("job " + std::to_string(job) + " ends: " + f.Label9.caption + " (" + outcome_name(how.result) +
                       ")" + said);
    else if (!said.empty())
        f.MSComm1.note(f.Label9.caption + " (" + outcome_name(how.result) + ")" + said);
}

const char* outcome_name(outcome o) {
    switch (o) {
    case outcome::none: return "no outcome";
    case outcome::success: return "success";
    case outcome::writer_refused: return "writer refused";
    case outcome::writer_state: return "the tool's check of the writer";
    case outcome::communication_lost: return "communication lost";
    case outcome::file_problem: return "file problem";
    case outcome::no_port: return "no port";
    case outcome::interrupted: return "interrupted";
    case outcome::different: return "different";
    case outcome::internal_error: return "internal error";
    }
    return "?";
}

void report(main_form& f, outcome result, const char* text) {
    f.Label9.caption = text;
    f.last_outcome = result;
    ++f.outcomes;
}

namespace {

// What a job stopped from outside leaves on the writer and in its file.
std::string left_behind(const main_form& f) {
    if (writes_chosen_file(f)) return save_now(f);
    if (!f.writer_changed) return "nothing was erased or written: the writer is as it was";
    return writer_now(f);
}

}  // namespace

void abort_sequence(main_form& f, outcome why, const char* message, file1 file) {
    // A reply a row's own check turned down: what came, in which exchange.
    if (f.detail.empty() && f.job_no != 0 && why == outcome::communication_lost)
        f.detail = "the writer on " + port_named(f) + " answered " +
                   (f.rx_bytes.empty() ? std::string("nothing") : hex(f.rx_bytes)) + " in " + exchange_at(f) +
                   ", which is not the reply due; " + check_the_line;
    else if (f.detail.empty() && f.job_no != 0 && why == outcome::writer_refused)
        f.detail = "the writer on " + port_named(f) + " refused " + exchange_at(f);
    else if (f.detail.empty() && f.job_no != 0 && why == outcome::interrupted)
        f.detail = left_behind(f);
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

void guarded(main_form& f, handler entry) {
    barrier(f, [&] { entry(f); });
    settle_operation(f);
}

void settle_operation(main_form& f) {
    main_form::operation_watch& op = f.operation;
    if (f.engine_step != 0 || f.job_no != 0) {
        // The job, or the exchange the operation began with.
        if (!op.running) op = {true, op.outcomes_seen, f.job_no, f.engine_step, op.recorded};
        return;
    }
    const bool ended = (op.running || f.outcomes != op.outcomes_seen) && f.last_outcome != outcome::none;
    const main_form::operation_watch was = op;
    op = {false, f.outcomes, 0, 0, op.recorded + (ended ? 1u : 0u)};
    if (ended) {
        // The record never ends an operation that has ended already.
        try {
            record_operation(f, was.job, was.step);
        } catch (const std::exception& e) {
            f.MSComm1.note(std::string("the job history was not written: ") + e.what());
        }
    }
    f.found = {};
}

wait_result wait_ack(main_form& f, std::uint8_t code, answer kind, file1 file, const char* refusal) {
    if (!reply_read(f, ack_len)) return wait_result::waiting;
    if (ack(f, code)) return wait_result::accepted;
    if (kind == answer::verdict && ack(f, protocol::refused)) {
        f.detail = "the writer on " + port_named(f) + " refused " + exchange_at(f) + " (AC AC)";
        abort_sequence(f, outcome::writer_refused, refusal, file);
    } else {
        const std::uint8_t want = kind == answer::verdict ? protocol::done : code;
        const std::uint8_t due[] = {want, want};
        f.detail = "the writer on " + port_named(f) + " answered " + hex(f.rx_bytes) + " in " + exchange_at(f) +
                   " where " + hex(due) + " was due; " + check_the_line;
        abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file);
    }
    return wait_result::aborted;
}

void engine_tick(main_form& f);

void Timer1_Timer(main_form& f) {
    barrier(f, [&] { engine_tick(f); });
    settle_operation(f);
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
        if (f.engine_step != 0 || f.job_no != 0) {
            const std::string why = f.MSComm1.last_error();
            f.detail = "the line to " + port_named(f) + " was lost" + (why.empty() ? std::string() : " (" + why + ")") +
                       " in " + exchange_at(f) + "; " + check_the_line;
            abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file1::close);
        }
        return;
    }
    f.Label1.caption = keep_text;
    if (f.job_no != 0 && f.job_phase == 99 && f.engine_step == 0) {
        listen_for_quiet(f);
        if (f.first_phase_waits && line_quiet(f)) {
            run_job_phase(f);
            f.sequencer_from_now = true;
        }
    }
    if (f.engine_step != 0)
        if (const step_row at = find_step(f.engine_step); at.row) run_row(f, *at.of, *at.row);
    // A body may have lost the port; the watchdog still runs for this tick.
    watchdog(f);
}

}  // namespace torvela
