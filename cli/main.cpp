// torvela-cli: every operation of the window from a script. The same core,
// engine, sequencer and handlers run on a plain loop with the same three
// timers (4 ms, 500 ms, 200 ms) from a steady clock; the Yes/No question is
// answered Yes and the file comes from the arguments instead of the dialog.
// No protocol or job logic lives here.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#else
#include <io.h>
#endif
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <thread>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.hpp"
#include "erase/block_form.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "memories/memories.hpp"
#include "device_port.hpp"
#include "link/trace.hpp"
#include "window/front.hpp"
#include "platform/disk_files.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "platform/seq_files.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "service/write_count.hpp"
#include "engine/writer_id.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <timeapi.h>
#endif

namespace {

using namespace torvela;

enum exit_code : int { success = 0, failed = 1, unusable = 2, no_port = 3 };

// What an operation needs and how it ends well.
enum class file_use { none, memories_save, memories_file, rom_data, any_file };
enum class start { job, needs_open_port, opens_port };

struct operation {
    const char* name;
    void (*click)(main_form&);
    file_use file;
    start how;
    const char* what;
};

const std::vector<operation>& operations() {
    static const std::vector<operation> ops = {
        {"erase", allunlock_erase_Click, file_use::none, start::job, "ERASE ALL FLASH"},
        {"save", ramdata_get_Click, file_use::memories_save, start::job,
         "SAVE MEMORIES TO FILE into FILE (created if missing)"},
        {"transmit", ramdata_store_Click, file_use::memories_file, start::job,
         "TRANSMIT MEMORIES from FILE"},
        {"transmit-rom", flashall_write_Click, file_use::rom_data, start::job,
         "TRANSMIT ROM DATA from FILE"},
        {"block-write", flashblock_write_Click, file_use::rom_data, start::job,
         "writer block write of FILE, the blocks of --blocks"},
        {"write", write_Click, file_use::rom_data, start::needs_open_port, "plain write of FILE"},
        {"verify", verify_Click, file_use::rom_data, start::needs_open_port, "verify FILE"},
        {"target-direct-write", unit_3mode_Click, file_use::rom_data, start::job,
         "target direct write of FILE"},
        {"version-up", writer_versionup_Click, file_use::rom_data, start::job,
         "writer version up from FILE"},
        {"id-check", id_check_Click, file_use::any_file, start::needs_open_port,
         "writer-ID check (FILE as the window's chosen file)"},
        {"block-erase", block_erase_Click, file_use::none, start::needs_open_port,
         "erase the blocks of --blocks (needs --m32r or --m16c)"},
        {"lock-read", rockbit_read_Click, file_use::none, start::needs_open_port,
         "read the lock bits of --blocks (needs --m32r or --m16c)"},
        {"lock-set", rockbit_set_Click, file_use::none, start::needs_open_port,
         "set the lock bits of --blocks (needs --m32r or --m16c)"},
        {"lock-enable", rockbit_on_Click, file_use::none, start::needs_open_port,
         "enable the lock bits"},
        {"lock-disable", rockbit_non_Click, file_use::none, start::needs_open_port,
         "disable the lock bits"},
        {"switch", swon_en_Click, file_use::none, start::needs_open_port,
         "switch operation"},
        {"target-write", target_write_Click, file_use::none, start::needs_open_port,
         "writer to target write (waits as long as it takes; Ctrl+C ends it)"},
        {"write-count", write_count_Click, file_use::none, start::opens_port,
         "read the writer's write counts"},
    };
    return ops;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: torvela-cli [--port COMn|DEVICE] [--m32r|--m16c] [--blocks LIST] [--limit N|unlimited]\n"
                 "                   [--id TEXT] [--trace] [--quiet] [--] OPERATION [FILE]\n"
                 "       torvela-cli [--port COMn|DEVICE] ports\n"
                 "       torvela-cli --help | --version\n\n"
                 "Options take their value as the next argument or after '=' (--port=COM3).\n"
                 "  -p, --port COMn|DEVICE\n"
                 "                      the writer's port (default COM1): COMn as in the window (the link\n"
                 "                      comN in $XDG_CONFIG_HOME/torvela/ports, else /dev/ttyS<N-1>;\n"
                 "                      COMn on Windows), or a device path\n"
                 "  --m32r, --m16c      the CPU family's block map (Option1, Option2)\n"
                 "  --blocks LIST       blocks 1 to 9, as 3,4: ticks Check1..Check9 and, for block-write,\n"
                 "                      the block dialog\n"
                 "  --limit N|unlimited the count of writing to the target (1 to 200)\n"
                 "  --id TEXT           the previous ID (ticks the ID check box)\n"
                 "  --trace             every frame on the line in hex\n"
                 "  -q, --quiet         only the last status\n"
                 "  -h, --help          this text\n"
                 "  -V, --version       the version\n\n"
                 "operations:\n"
                 "  ports                COM1 to COM16: the device each stands for and whether it is there\n");
    for (const operation& op : operations())
        std::fprintf(to, "  %-20s %s\n",
                     (std::string(op.name) + (op.file != file_use::none ? " FILE" : "")).c_str(), op.what);
    std::fprintf(to,
                 "\nEvery change of the status line is printed with the seconds since the start.\n"
                 "Exit status: 0 the operation ended with its success text; 1 it ended with an error\n"
                 "text (also on standard error) or was interrupted; 2 usage error or a file that cannot\n"
                 "be used; 3 the port cannot be opened.\n");
}

struct options {
    std::optional<int> com;
    std::string device;
    int family = 0;  // 1 M32R, 2 M16C
    std::optional<std::set<int>> blocks;
    std::string limit, id, file;
    bool id_given = false, trace = false, quiet = false, ports = false;
    const operation* op = nullptr;
};

// Parses the arguments; an empty text means they are good.
// "--opt=value" as two arguments, "-p" as "--port"; after "--" nothing is
// an option.
std::vector<std::string> normalise(const std::vector<std::string>& args) {
    static const std::pair<const char*, const char*> shorts[] = {
        {"-p", "--port"}, {"-q", "--quiet"}, {"-h", "--help"}, {"-V", "--version"}};
    std::vector<std::string> out;
    bool options_end = false;
    for (const std::string& a : args) {
        if (options_end || a == "--") {
            out.push_back(a);
            options_end = true;
            continue;
        }
        std::string name = a;
        for (const auto& [short_name, long_name] : shorts)
            if (a == short_name) name = long_name;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            out.push_back(name.substr(0, eq));
            out.push_back(name.substr(eq + 1));
        } else {
            out.push_back(name);
        }
    }
    return out;
}

std::string parse(const std::vector<std::string>& args, options& o) {
    std::vector<std::string> rest;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options_end) {
            rest.push_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--port") {
            if (!value(v)) return "--port needs COMn or a device";
            if (v.size() > 3 && (v.rfind("COM", 0) == 0 || v.rfind("com", 0) == 0) &&
                v.find_first_not_of("0123456789", 3) == std::string::npos) {
                const std::string digits = v.substr(3);
                const int n = digits.size() <= 2 ? std::stoi(digits) : 0;
                if (n < 1 || n > 16) return "--port: COM1 to COM16";
                o.com = n;
            } else if (v.empty()) {
                return "--port needs COMn or a device";
            } else {
                o.device = v;
            }
        } else if (a == "--m32r" || a == "--m16c") {
            if (o.family != 0) return "--m32r and --m16c: one of them";
            o.family = a == "--m32r" ? 1 : 2;
        } else if (a == "--blocks") {
            if (!value(v)) return "--blocks needs a list";
            std::set<int> b;
            std::size_t at = 0;
            while (at <= v.size()) {
                const std::size_t comma = std::min(v.find(',', at), v.size());
                const std::string n = v.substr(at, comma - at);
                if (n.size() != 1 || n[0] < '1' || n[0] > '9') return "--blocks: numbers 1 to 9, as 3,4";
                b.insert(n[0] - '0');
                at = comma + 1;
            }
            o.blocks = b;
        } else if (a == "--limit") {
            if (!value(v)) return "--limit needs N or unlimited";
            if (v == "unlimited") {
                o.limit = "UNLIMITED";
            } else {
                if (v.empty() || v.size() > 3 || v.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(v) < 1 || std::stoi(v) > 200)
                    return "--limit: 1 to 200 or unlimited";
                o.limit = std::to_string(std::stoi(v));
            }
        } else if (a == "--id") {
            if (!value(o.id)) return "--id needs a text";
            o.id_given = true;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option " + a;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) return "no operation";
    // "ports" takes the options any operation takes, and needs none of them.
    if (rest[0] == "ports") {
        o.ports = true;
        return rest.size() > 1 ? "too many arguments" : "";
    }
    for (const operation& op : operations())
        if (rest[0] == op.name) o.op = &op;
    if (!o.op) return "unknown operation " + rest[0];
    if (o.family == 0 && std::string_view(o.op->what).find("needs --m32r or --m16c") != std::string_view::npos)
        return std::string(o.op->name) + " needs --m32r or --m16c (the block map)";
    const bool wants_file = o.op->file != file_use::none;
    if (wants_file && rest.size() < 2) return std::string(o.op->name) + " needs a FILE";
    if (rest.size() > (wants_file ? 2u : 1u)) return "too many arguments";
    if (wants_file) o.file = rest[1];
    return {};
}

// The Yes/No box: a command line has been asked already.
class yes_box final : public message_box {
public:
    bool yes_no(std::string_view, std::string_view) override { return true; }
    void inform(std::string_view text, std::string_view) override {
        std::string line(text);
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "torvela-cli: %s\n", line.c_str());
    }
};

class argument_dialogs final : public dialogs {
public:
    std::string file;
    std::optional<std::set<int>> blocks;
    std::string open_file(std::string_view) override { return file; }
    void show_block_form(main_form& f, block_form& dlg) override {
        for (int n = 1; n <= 9; ++n) dlg.target_block[static_cast<std::size_t>(n - 1)].value = blocks && blocks->count(n);
        OK_buttun_Click(dlg, f);
    }
};

// Ctrl+C, a kill, the terminal closed, the reader of the output gone: the
// job ends through the abort, the port closed and no file left half-made.
volatile std::sig_atomic_t interrupted = 0;
#ifdef _WIN32
std::atomic<bool> cleaned_up{false};
BOOL WINAPI on_console_event(DWORD event) {
    interrupted = 1;
    // Closing the console window ends the process once this returns: give
    // the loop the time to abort the job first.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        for (int i = 0; i < 500 && !cleaned_up; ++i) Sleep(10);
    return TRUE;
}
void catch_interrupts() { SetConsoleCtrlHandler(on_console_event, TRUE); }
#else
void on_interrupt(int) { interrupted = 1; }
void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &sa, nullptr);
}
#endif

// Why a file cannot be used for the operation, or an empty text.
std::string check_file(main_form& f, const options& o) {
    const std::filesystem::path p = path_from_utf8(o.file);
    std::error_code ec;
    if (o.op->file == file_use::memories_save) {
        if (std::filesystem::is_directory(p, ec)) return o.file + " is a folder";
        const save_target target = check_save_target(p);
        if (target != save_target::new_file && target != save_target::replaceable)
            return o.file + " " + save_target_problem(target) + ": it is not replaced";
        // The save's own first step, tried and undone: its folder must take
        // the new file beside the chosen one.
        pending_save probe;
        if (!probe.begin(o.file)) return o.file + " cannot be saved: " + probe.problem();
        probe.discard();
    } else if (!is_plain_file(p)) {
        return o.file + " is no readable file";
    }
    file_select_Click(f);
    if (o.op->file == file_use::rom_data) {
        // The job converts the file again; a file it would refuse is refused
        // here, before the port is opened. The store-bound operations use
        // the store's filter.
        const std::uint8_t filter = f.block_filter_on;
        if (o.op->click != writer_versionup_Click) f.block_filter_on = 1;
        const bool usable = convert_or_report(f);
        f.files.close(1);
        f.files.close(2);
        f.block_filter_on = filter;
        if (!usable) return o.file + ": " + f.Label9.caption + (f.detail.empty() ? "" : ": " + f.detail);
        f.Label9.caption.clear();
    }
    if (o.op->file == file_use::memories_save && !f.ramdata_get.visible)
        return o.file + " holds saved memories: the window offers TRANSMIT MEMORIES for it (use transmit)";
    if (o.op->file == file_use::memories_file && !f.ramdata_store.visible)
        return o.file + " is no memories file";
    return {};
}

bool stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(1) != 0;
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

// What the command line prints while an operation runs: the status lines,
// and the progress line of the pass under way. On a terminal that is one
// line redrawn in place under the status lines; elsewhere (a file, a pipe)
// a plain line every 16 pages and at the last.
class run_report {
public:
    explicit run_report(bool live) : live_(live) {}
    // A line of its own: the progress line is cleared first.
    void print(double at, const std::string& text) {
        clear();
        std::printf("%8.3f  %s\n", at, text.c_str());
    }
    void progress(double at, const main_form& f, const progress_line& line) {
        const auto& p = f.progress;
        if (p.total == 0) return;
        if (live_) {
            // A pass's last figures are drawn once, not again under every
            // status line that follows it.
            if (line.text() == drawn_ || (p.pass == pass_ && p.done == p.total && done_ == p.total)) return;
            pass_ = p.pass, done_ = p.done;
            // Padded over what stood there before; no terminal codes needed.
            std::printf("\r%8.3f  %-*s", at, static_cast<int>(drawn_.size()), line.text().c_str());
            drawn_ = line.text();
        } else if ((p.pass != pass_ || p.done != done_) && (p.done % 16 == 0 || p.done == p.total)) {
            pass_ = p.pass, done_ = p.done;
            std::printf("%8.3f  %s\n", at, line.text().c_str());
        }
    }
    // The last figures stay on screen; what follows starts on a new line.
    void finish() {
        if (!drawn_.empty()) std::printf("\n");
        drawn_.clear();
        std::fflush(stdout);
    }

private:
    void clear() {
        if (drawn_.empty()) return;
        std::printf("\r%*s\r", static_cast<int>(drawn_.size()) + 10, "");
        drawn_.clear();
    }
    bool live_;
    std::string drawn_;
    std::uint32_t pass_ = 0;
    int done_ = -1;
};

// Standard output and standard error are the one terminal.
bool same_terminal() {
#ifdef _WIN32
    return _isatty(1) && _isatty(2);
#else
    return isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
#endif
}

}  // namespace

// COM1 to COM16 as this machine resolves them, then the serial devices
// present and the COMn that stands for each.
int list_ports() {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> named;  // a device's real path: the COMn that stand for it
    for (int n = 1; n <= 16; ++n) {
        const port_choice c = resolve_port(n);
        std::error_code ec;
        const bool there = !c.device.empty() && fs::exists(path_from_utf8(c.device), ec);
        const char* state = !c.error.empty() ? c.error.c_str() : there ? "present" : "missing";
        std::printf("COM%-3d %-24s %s\n", n, c.device.empty() ? "-" : c.device.c_str(), state);
        if (there) {
            const std::string real = fs::canonical(path_from_utf8(c.device), ec).string();
            named[real] += (named[real].empty() ? "COM" : ", COM") + std::to_string(n);
        }
    }
#ifndef _WIN32
    std::vector<std::string> devices;
    std::error_code ec;
    for (fs::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec))
        devices.push_back(it->path().string());
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) devices.push_back(it->path().string());
    }
    std::sort(devices.begin(), devices.end());
    std::printf("\nserial devices present:%s\n", devices.empty() ? " none (no USB adapter plugged in)" : "");
    for (const std::string& d : devices) {
        const std::string real = fs::canonical(d, ec).string();
        const auto as = named.find(real);
        std::printf("  %-48s %s\n", d.c_str(),
                    as != named.end() ? as->second.c_str()
                                      : ("no COMn: ln -s " + d + " " + ports_folder() + "/comN").c_str());
    }
#endif
    return success;
}

int main(int argc, char** argv) {
    const std::vector<std::string> args = normalise(std::vector<std::string>(argv + 1, argv + argc));
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--help") {
            usage(stdout);
            return success;
        }
        if (a == "--version") {
            std::printf("torvela-cli %s\n", TORVELA_VERSION);
            return success;
        }
    }
    options o;
    if (const std::string why = parse(args, o); !why.empty()) {
        std::fprintf(stderr, "torvela-cli: %s\nTry 'torvela-cli --help' for more information.\n", why.c_str());
        return unusable;
    }
    if (o.ports) return list_ports();
    catch_interrupts();

    std_seq_files files;
    device_port device;
    device.device_override = o.device;
    traced_port serial(device);
    yes_box box;
    argument_dialogs dlg;
    dlg.file = o.file;
    dlg.blocks = o.blocks;
    main_form f(serial, box, dlg, files);
    Form_Load(f);
    if (o.com) {
        f.Combo2.caption = "COM" + std::to_string(*o.com);
        Combo2_Click(f);
    }
    if (o.family != 0) {
        (o.family == 1 ? f.Option1 : f.Option2).value = 1;
        (o.family == 1 ? Option1_Click : Option2_Click)(f);
    }
    if (o.blocks)
        for (int n = 1; n <= 9; ++n) f.check(n).value = o.blocks->count(n) ? 1 : 0;
    if (o.op->click == block_erase_Click && !o.blocks) {
        // Say what will go before it goes.
        std::string ticked;
        for (int n = 1; n <= 9; ++n)
            if (f.check(n).value == 1) ticked += (ticked.empty() ? "" : ",") + std::to_string(n);
        std::fprintf(stderr, "torvela-cli: no --blocks: erasing the blocks ticked at start, %s\n",
                     ticked.empty() ? "none" : ticked.c_str());
    }
    if (!o.limit.empty()) {
        f.Combo3.caption = o.limit;
        Combo3_Click(f);
    }
    if (o.id_given) {
        f.ID.caption = o.id;
        f.privious_id_match.value = 1;
    }
    if (o.op->file != file_use::none) {
        if (const std::string why = check_file(f, o); !why.empty()) {
            std::fprintf(stderr, "torvela-cli: %s\n", why.c_str());
            return unusable;
        }
    }

    using steady = std::chrono::steady_clock;
    const steady::time_point started = steady::now();
    auto stamp = [&] { return std::chrono::duration<double>(steady::now() - started).count(); };
    auto now_ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - started).count();
    };
    std::string shown = f.Label9.caption;
    run_report out(stdout_is_terminal());
    progress_line progress;
    if (o.trace) serial.on_line = [&](const trace_line& t) { out.print(stamp(), trace_text(t)); };
    // After every handler and tick: the status line and the progress line.
    auto report = [&] {
        if (o.quiet) return;
        if (f.Label9.caption != shown) {
            shown = f.Label9.caption;
            out.print(stamp(), shown);
        }
        progress.update(f, now_ms());
        out.progress(stamp(), f, progress);
        std::fflush(stdout);
    };
    auto port_error = [&] {
        std::fprintf(stderr, "PORT OPEN ERROR\ntorvela-cli: %s\n", f.detail.c_str());
        return no_port;
    };

    if (o.op->how == start::needs_open_port && !open_port_prologue(f)) {
        report();
        return port_error();
    }
    guarded(f, o.op->click);
    report();
    if (f.last_outcome == outcome::no_port) return port_error();
    const bool is_job = o.op->how == start::job;
    auto running = [&] { return f.engine_step != 0 || (is_job && f.job_no != 0); };

#ifdef _WIN32
    // The 4 ms engine needs a finer sleep than the default 15.6 ms.
    timeBeginPeriod(1);
#endif
    // The three timers on one steady clock, as every window drives them.
    timer_driver clock(f, serial.tick, timer_driver::offered::by_one_loop);
    clock.start(now_ms());
    int code = success;
    while (running()) {
        if (interrupted) {
            abort_sequence(f, outcome::interrupted, "INTERRUPTED", file1::close);
            files.close(2);
            out.finish();
            std::fprintf(stderr, "interrupted\n");
            if (!f.detail.empty()) std::fprintf(stderr, "torvela-cli: %s\n", f.detail.c_str());
            code = failed;
            break;
        }
        std::this_thread::sleep_until(started + std::chrono::milliseconds(clock.next_due()));
        const std::int64_t now = now_ms();
        for (int i = 0; i < timer_driver::timers && running(); ++i)
            if (clock.offer(i, now)) report();
    }
#ifdef _WIN32
    timeEndPeriod(1);
#endif
    out.finish();

    // One-step operations leave the port as they found it: closed.
    if (!is_job) close_port(f);
    Form_Unload(f);
#ifdef _WIN32
    cleaned_up = true;
#endif
    if (code != success) return code;
    const std::string& last = f.Label9.caption;
    const bool succeeded = f.last_outcome == outcome::success;
    if (o.op->click == write_count_Click && succeeded)
        std::printf("WRITE COUNTS %s %s\n", f.Label6.caption.c_str(), f.Label7.caption.c_str());
    if (o.quiet) std::printf("%s\n", last.c_str());
    if (succeeded) return success;
    // The status once on a terminal: --quiet has just printed it there.
    if (!(o.quiet && same_terminal()))
        std::fprintf(stderr, "%s\n", last.empty() ? "the operation did not start" : last.c_str());
    if (!f.detail.empty()) std::fprintf(stderr, "torvela-cli: %s\n", f.detail.c_str());
    return failed;
}
