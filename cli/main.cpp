// torvela-cli: every operation of the window from a script. The same core,
// engine, sequencer and handlers run on a Qt event loop with the same three
// timers; the Yes/No question is answered Yes and the file comes from the
// arguments instead of the dialog. No protocol or job logic lives here.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
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
#include "qt_serial_port.hpp"
#include "rom_data/disk_files.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "rom_data/seq_files.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "service/write_count.hpp"
#include "service/writer_id.hpp"

namespace {

using namespace torvela;

enum exit_code : int { success = 0, failed = 1, unusable = 2, no_port = 3 };

// What an operation needs and how it ends well.
enum class file_use { none, memories_save, memories_file, rom_data };
enum class start { job, needs_open_port, opens_port };

struct operation {
    const char* name;
    void (*click)(main_form&);
    file_use file;
    start how;
    std::set<std::string> success;  // the status texts of a good end
    const char* what;
};

const std::vector<operation>& operations() {
    static const std::vector<operation> ops = {
        {"erase", allunlock_erase_Click, file_use::none, start::job, {"ALL FLASH ERASE COMPLETE"}, "ERASE ALL FLASH"},
        {"save", ramdata_get_Click, file_use::memories_save, start::job, {"SAVE MEMORIES TO FILE COMPLETE"},
         "SAVE MEMORIES TO FILE into FILE (created if missing)"},
        {"transmit", ramdata_store_Click, file_use::memories_file, start::job, {"TRANSMIT MEMORIES COMPLETE"},
         "TRANSMIT MEMORIES from FILE"},
        {"transmit-rom", flashall_write_Click, file_use::rom_data, start::job, {"ROM DATA TRANSMIT COMPLETE"},
         "TRANSMIT ROM DATA from FILE"},
        {"block-write", flashblock_write_Click, file_use::rom_data, start::job, {"ROM WRITER BLOCK WRITE COMPLETE"},
         "writer block write of FILE, the blocks of --blocks"},
        {"write", write_Click, file_use::rom_data, start::needs_open_port, {"TRANSMIT OK"}, "plain write of FILE"},
        {"verify", verify_Click, file_use::rom_data, start::needs_open_port, {"VERIFY OK"}, "verify FILE"},
        {"target-direct-write", unit_3mode_Click, file_use::rom_data, start::job, {"TARGET DIRECT WRITE COMPLETE"},
         "target direct write of FILE"},
        {"version-up", writer_versionup_Click, file_use::rom_data, start::job, {"ROM WRITER VERSION UP COMPLETE"},
         "writer version up from FILE"},
        {"id-check", id_check_Click, file_use::rom_data, start::needs_open_port, {"CHECK WRITER-ID OK"},
         "writer-ID check (FILE as the window's chosen file)"},
        {"block-erase", block_erase_Click, file_use::none, start::needs_open_port, {"BLOCK ERASE OK"},
         "erase the blocks of --blocks"},
        {"lock-read", rockbit_read_Click, file_use::none, start::needs_open_port, {"ROCK NONBLOCK", "ROCK EXISTBLOCK"},
         "read the lock bits of --blocks"},
        {"lock-set", rockbit_set_Click, file_use::none, start::needs_open_port, {"ROCK BIT SET OK"},
         "set the lock bits of --blocks"},
        {"lock-enable", rockbit_on_Click, file_use::none, start::needs_open_port, {"ROCK BIT VALIDITY OK"},
         "enable the lock bits"},
        {"lock-disable", rockbit_non_Click, file_use::none, start::needs_open_port, {"ROCK BIT INVALIDITY OK"},
         "disable the lock bits"},
        {"switch", swon_en_Click, file_use::none, start::needs_open_port, {"SWITCH OPERATION OK"},
         "switch operation"},
        {"target-write", target_write_Click, file_use::none, start::needs_open_port, {"TARGET WRITE NOW!"},
         "writer to target write (waits as long as it takes; Ctrl+C ends it)"},
        {"write-count", write_count_Click, file_use::none, start::opens_port, {"ライタ書き込み回数読込ＯＫ"},
         "read the writer's write counts"},
    };
    return ops;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: torvela-cli [--port COMn|DEVICE] [--m32r|--m16c] [--blocks LIST] [--limit N|unlimited]\n"
                 "                   [--id TEXT] [--trace] [--quiet] OPERATION [FILE]\n"
                 "       torvela-cli --help | --version\n\n"
                 "  --port COMn|DEVICE  the writer's port (default COM1): COMn as in the window (the link\n"
                 "                      comN in $XDG_CONFIG_HOME/torvela/ports, else /dev/ttyS<N-1>;\n"
                 "                      COMn on Windows), or a device path\n"
                 "  --m32r, --m16c      the CPU family's block map (Option1, Option2)\n"
                 "  --blocks LIST       blocks 1 to 9, as 3,4: ticks Check1..Check9 and, for block-write,\n"
                 "                      the block dialog\n"
                 "  --limit N|unlimited the count of writing to the target (1 to 200)\n"
                 "  --id TEXT           the previous ID (ticks the ID check box)\n"
                 "  --trace             every frame on the line in hex\n"
                 "  --quiet             only the last status\n\n"
                 "operations:\n");
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
    QString device;
    int family = 0;  // 1 M32R, 2 M16C
    std::optional<std::set<int>> blocks;
    std::string limit, id, file;
    bool id_given = false, trace = false, quiet = false;
    const operation* op = nullptr;
};

// Parses the arguments; an empty text means they are good.
std::string parse(const std::vector<std::string>& args, options& o) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
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
                const int n = std::stoi(v.substr(3));
                if (n < 1 || n > 16) return "--port: COM1 to COM16";
                o.com = n;
            } else {
                o.device = QString::fromStdString(v);
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
    for (const operation& op : operations())
        if (rest[0] == op.name) o.op = &op;
    if (!o.op) return "unknown operation " + rest[0];
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

std::atomic<bool> interrupted{false};
void on_interrupt(int) { interrupted = true; }

// Why a file cannot be used for the operation, or an empty text.
std::string check_file(main_form& f, const options& o) {
    const std::filesystem::path p = path_from_utf8(o.file);
    std::error_code ec;
    if (o.op->file == file_use::memories_save) {
        if (std::filesystem::is_directory(p, ec)) return o.file + " is a folder";
        const std::filesystem::path folder = std::filesystem::absolute(p, ec).parent_path();
        if (!std::filesystem::is_directory(folder, ec)) return "no folder " + utf8_from_path(folder);
    } else if (!is_plain_file(p)) {
        return o.file + " is no readable file";
    }
    file_select_Click(f);
    if (o.op->file == file_use::memories_save && !f.ramdata_get.visible)
        return o.file + " holds saved memories: the window offers TRANSMIT MEMORIES for it (use transmit)";
    if (o.op->file == file_use::memories_file && !f.ramdata_store.visible)
        return o.file + " is no memories file";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
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
        std::fprintf(stderr, "torvela-cli: %s\n", why.c_str());
        usage(stderr);
        return unusable;
    }

    QCoreApplication app(argc, argv);
    std_seq_files files;
    torvela_qt::qt_serial_port serial;
    yes_box box;
    argument_dialogs dlg;
    dlg.file = o.file;
    dlg.blocks = o.blocks;
    main_form f(serial, box, dlg, files);
    Form_Load(f);
    serial.device_override = o.device;
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

    QElapsedTimer since;
    since.start();
    auto stamp = [&] { return static_cast<double>(since.elapsed()) / 1000.0; };
    std::string shown = f.Label9.caption;
    int pages_shown = -1;
    std::uint32_t pass_shown = 0;
    if (o.trace)
        serial.on_trace = [&](const torvela_qt::trace_line& t) {
            using kind = torvela_qt::trace_line::kind;
            const char* dir = t.what == kind::sent ? ">" : t.what == kind::received ? "<" : "#";
            const QByteArray body = t.what == kind::note ? t.bytes : t.bytes.toHex(' ').toUpper();
            std::printf("%8.3f  %s %s\n", stamp(), dir, body.constData());
        };
    // After every handler and tick: the status line and the page count.
    auto report = [&] {
        if (o.quiet) return;
        if (f.Label9.caption != shown) {
            shown = f.Label9.caption;
            std::printf("%8.3f  %s\n", stamp(), shown.c_str());
        }
        const auto& p = f.progress;
        if (p.total > 0 && (p.pass != pass_shown || p.done != pages_shown) &&
            (p.done % 16 == 0 || p.done == p.total)) {
            pass_shown = p.pass;
            pages_shown = p.done;
            std::printf("%8.3f  PAGES %d/%d\n", stamp(), p.done, p.total);
        }
        std::fflush(stdout);
    };

    if (o.op->how == start::needs_open_port && !open_port_prologue(f)) {
        report();
        return no_port;
    }
    o.op->click(f);
    report();
    if (f.Label9.caption == "PORT OPEN ERROR" && !f.MSComm1.PortOpen()) {
        std::fprintf(stderr, "PORT OPEN ERROR\n");
        return no_port;
    }
    const bool is_job = o.op->how == start::job;
    auto running = [&] { return f.engine_step != 0 || (is_job && f.job_no != 0); };

    QTimer timer1, timer2, timer3, watch;
    for (QTimer* t : {&timer1, &timer2, &timer3}) t->setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer1, &QTimer::timeout, [&] {
        ++serial.tick;
        Timer1_Timer(f);
        report();
    });
    QObject::connect(&timer2, &QTimer::timeout, [&] {
        Timer2_Timer(f);
        report();
    });
    QObject::connect(&timer3, &QTimer::timeout, [&] { Timer3_Timer(f); });
    int code = success;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupted) {
            close_port(f);
            files.close(1);
            files.close(2);
            f.job_no = 0;
            f.engine_step = 0;
            std::fprintf(stderr, "interrupted\n");
            code = failed;
            app.quit();
            return;
        }
        if (!running()) app.quit();
    });
    timer1.start(f.Timer1.interval);
    timer2.start(f.Timer2.interval);
    timer3.start(f.Timer3.interval);
    watch.start(20);
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    if (running()) app.exec();

    // One-step operations leave the port as they found it: closed.
    if (!is_job) close_port(f);
    Form_Unload(f);
    if (code != success) return code;
    const std::string& last = f.Label9.caption;
    if (o.op->click == write_count_Click && o.op->success.count(last))
        std::printf("WRITE COUNTS %s %s\n", f.Label6.caption.c_str(), f.Label7.caption.c_str());
    if (o.quiet) std::printf("%s\n", last.c_str());
    if (o.op->success.count(last)) return success;
    std::fprintf(stderr, "%s\n", last.empty() ? "the operation did not start" : last.c_str());
    return failed;
}
