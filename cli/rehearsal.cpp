// --dry-run: the operation's own checks, then the operation itself run in
// virtual time against a rehearsed writer (a blank flash, answering every
// command as the exchanges expect), and what reached that writer: the
// blocks it would erase and the pages it would write. The port is never
// opened.
#include <cstdio>

#include "console.hpp"
#include "cli.hpp"
#include "engine/engine.hpp"
#include "link/link.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"
#include "memories/memories_reading.hpp"
#include "rehearsal/rehearsal.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/lock_bits.hpp"
#include "window/driver.hpp"

namespace cli {

using namespace torvela;

namespace {

// The control work file's pages keep their own addresses, below the
// image's in the writer's store.
constexpr std::uint32_t control_pages_end = 0x2000;

// The blocks erased, as the window labels them.
std::string block_list(const main_form& f, const std::vector<int>& codes) {
    std::string out;
    for (const int code : codes) out += (out.empty() ? "" : ", ") + block_of_code_named(f, code);
    return out.empty() ? "none" : out;
}

// Every question is answered Yes, as on the command line; the rehearsal's
// own notes (the file it saved) concern its scratch file and stay unsaid.
class rehearsal_box final : public message_box {
public:
    bool yes_no(std::string_view, std::string_view) override { return true; }
    void inform(std::string_view, std::string_view) override {}
};

}  // namespace

int rehearse(const options& o, output& out) {
    const bool save = o.op->file == file_use::memories_save, verify = o.op->click == verify_Click;
    rehearsal_port writer;
    traced_port serial(writer);
    if (o.trace) serial.on_line = [&](const trace_line& t) { out.trace(trace_text(t)); };
    rehearsal_box box;
    argument_dialogs dlg(o);
    std_seq_files files;
    main_form f(serial, box, dlg, files);
    writer.answer_to(f);
    front_driver driver(f, serial, timer_driver::offered::by_one_loop);
    driver.load(0);
    // A save takes a unit out of a writer that holds one; everything else
    // meets a blank flash.
    if (save) writer.hold_unit(m32r_family);
    if (const std::string why = set_up(f, o); !why.empty()) {
        say(stderr, "torvela-cli: %s\n", why.c_str());
        out.end("file problem", "", why, unusable);
        return unusable;
    }
    // The rehearsed save writes a scratch file of its own, never FILE.
    private_work_folder scratch;
    if (save) f.memory_file_path = scratch.file("rehearsed.dat");
    auto run = [&](handler click, bool job) {
        guarded(f, click);
        if (!run_rehearsal(driver, f, job)) abort_sequence(f, outcome::internal_error, "COMMUNICATION ERROR", file1::close);
    };
    // A verify is rehearsed against a writer that holds FILE as TRANSMIT
    // ROM DATA leaves it, so that it shows the pages it reads and compares.
    if (verify) {
        run(flashall_write_Click, true);
        writer.forget_what_went();
    }
    const std::string model = save ? "a writer holding a unit" : verify ? "a writer holding " + o.files[0] : "a writer with a blank flash";
    if (o.op->how == start::needs_open_port) open_port_prologue(f);
    run(o.op->click, o.op->how == start::job);
    if (f.last_outcome != outcome::success) {
        say(stderr, "torvela-cli: the dry run against %s ended with %s%s\n", model.c_str(),
            f.Label9.caption.c_str(), f.detail.empty() ? "" : (": " + f.detail).c_str());
        out.end(outcome_name(f.last_outcome), f.Label9.caption, f.detail, failed);
        return failed;
    }
    const rehearsed& w = writer.went;
    std::string text = "DRY RUN of " + std::string(o.op->name) + (o.files.empty() ? "" : " " + o.files[0]) +
                       ": its checks passed; nothing was sent and no port was opened. Against " + model + " it would\n";
    if (w.erase_all > 0) text += "  erase all flash\n";
    const std::string erase_blocks = "  erase blocks " + block_list(f, w.erased_blocks) + "\n";
    if (!w.erased_blocks.empty() && !save) text += erase_blocks;
    if (o.op->click == rockbit_set_Click) text += "  set the lock bits of " + block_list(f, w.locked_blocks) + "\n";
    if (w.lock_enables > 0) text += "  make the lock bits effective\n";
    if (w.lock_disables > 0) text += "  make the lock bits ineffective\n";
    if (w.switch_sets > 0) text += "  set the switch operation\n";
    if (w.target_writes > 0) text += "  start " + std::to_string(w.target_writes) + " target write(s)\n";
    // An image's pages are counted as FILE's; the control pages the tool
    // builds for it (CPU code, blocks, ID code, write-count limit) apart.
    const bool image = o.op->file == file_use::rom_data;
    std::vector<std::uint32_t> written, read, control_written, control_read;
    for (const std::uint32_t at : w.written_pages) (image && at < control_pages_end ? control_written : written).push_back(at);
    for (const std::uint32_t at : w.read_pages) (image && at < control_pages_end ? control_read : read).push_back(at);
    const std::string of_file = image ? " pages of " + o.files[0] : " pages";
    if (!written.empty())
        text += "  write " + std::to_string(written.size()) + of_file + ": " + page_runs(written) + "\n";
    if (!control_written.empty())
        text += "  write " + std::to_string(control_written.size()) + " control pages before them: " +
                page_runs(control_written) + "\n";
    if (w.program_pages_written > 0)
        text += "  write " + std::to_string(w.program_pages_written) + " pages of the writer's own program\n";
    if (!read.empty())
        text += "  read " + std::to_string(read.size()) + of_file + ": " + page_runs(read) +
                (verify ? " and compare them with " + o.files[0]
                 : save ? " (the unit, then again to verify " + o.files[0] + ", written between)"
                 : image ? " back to verify them"
                        : "") +
                "\n";
    if (!control_read.empty())
        text += "  read " + std::to_string(control_read.size()) + " control pages back to verify them\n";
    // A save erases only once the file holds the verified memories.
    if (save) text += erase_blocks;
    text += "  ending with " + f.Label9.caption;
    const std::string erased = w.erased_blocks.empty() ? "" : block_list(f, w.erased_blocks);
    out.result(text, {text_field("dry_run", o.op->name), text_field("erase_blocks", erased),
                      bool_field("erase_all", w.erase_all > 0),
                      text_field("lock_bits_set", o.op->click == rockbit_set_Click ? block_list(f, w.locked_blocks) : ""),
                      number_field("pages_written", static_cast<long long>(written.size())),
                      text_field("pages", page_runs(written)),
                      number_field("control_pages_written", static_cast<long long>(control_written.size())),
                      number_field("control_pages_read", static_cast<long long>(control_read.size())),
                      number_field("program_pages_written", w.program_pages_written),
                      number_field("pages_read", static_cast<long long>(read.size())), text_field("pages_read_at", page_runs(read)),
                      number_field("target_writes", w.target_writes), text_field("status", f.Label9.caption)});
    out.end("success", f.Label9.caption, "", success);
    return success;
}

}  // namespace cli
