// torvela-cli: every operation of the window from a script, and the service
// engineer's looks at a writer and its files. The same core, engine,
// sequencer and handlers run on a plain loop with the same three timers
// (4 ms, 500 ms, 200 ms) from a steady clock; the Yes/No question is
// answered Yes and the file comes from the arguments instead of the dialog.
// No protocol or job logic lives here: the operation table says what each
// operation needs, how it runs and what it prints.
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
#include <cstdlib>
#include <string_view>
#include <thread>

#include "console.hpp"
#include "cli.hpp"
#include "console/status_texts.hpp"
#include "device_port.hpp"
#include "engine/engine.hpp"
#include "erase/block_form.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/trace.hpp"
#include "service/look.hpp"
#include "memories/memories.hpp"
#include "platform/job_history.hpp"
#include "platform/shop_outbox.hpp"
#include "platform/seq_files.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "service/write_count.hpp"
#include "engine/writer_id.hpp"
#include "window/driver.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <timeapi.h>
#endif

namespace cli {

using namespace torvela;

namespace {

void print_write_counts(const main_form& f, output& out) {
    out.result("WRITE COUNTS " + f.Label6.caption + " " + f.Label7.caption,
               {number_field("write_count_a", std::atoll(f.Label6.caption.c_str())),
                number_field("write_count_b", std::atoll(f.Label7.caption.c_str()))});
}

// The jobs of this bench that left the writer's unit in a file, or why none
// are named.
void print_unit_seen(const main_form& f, output& out) {
    const auto& look = f.look;
    if (!look.unit_sha256.empty())
        out.result("UNIT             " + look.unit_sha256, {text_field("unit_sha256", look.unit_sha256)});
    for (const auto& seen : look.unit_seen)
        out.result("  HELD BY        " + seen.time + "  " + seen.operation + "  " + seen.file +
                       (seen.kept.empty() ? "" : "\n                 kept " + seen.kept),
                   {text_field("unit_seen", seen.time), text_field("operation", seen.operation),
                    text_field("file", seen.file), text_field("kept", seen.kept)});
    if (!look.unit_note.empty()) out.result("  " + look.unit_note, {text_field("unit_note", look.unit_note)});
}

void print_lock_reads(const main_form& f, output& out) {
    for (const auto& read : f.lock_reads)
        out.result(read.block + " " + (read.locked ? "ROCK EXISTBLOCK (locked)" : "ROCK NONBLOCK (not locked)"),
                   {text_field("block", read.block), number_field("locked", read.locked ? 1 : 0)});
}

void print_info(const main_form& f, output& out) {
    const auto& look = f.look;
    const std::string memories = look.holds_memories ? "held" : "blank";
    out.result("CPU TYPE         " + look.cpu + "\nMACHINE VERSION  " + look.version + "\nWRITE COUNTS     " +
                   f.Label6.caption + " " + f.Label7.caption + "\nMEMORIES         " +
                   (look.holds_memories ? "held (SAVE MEMORIES TO FILE takes them out)"
                                        : "blank (TRANSMIT MEMORIES may write them)"),
               {text_field("cpu", look.cpu), text_field("machine_version", look.version),
                number_field("write_count_a", std::atoll(f.Label6.caption.c_str())),
                number_field("write_count_b", std::atoll(f.Label7.caption.c_str())),
                text_field("memories", memories)});
    print_unit_seen(f, out);
}

void print_differences(const main_form& f, output& out) {
    long long pages = 0, bytes = 0;
    for (const auto& d : f.look.differences) {
        std::vector<field> fields = {text_field("where", d.where), text_field("file", d.file),
                                     text_field("writer", d.writer)};
        if (d.offset >= 0) {  // a page, not the CPU or header line
            ++pages, bytes += d.bytes;
            for (field x : {number_field("offset", d.offset), number_field("bytes", d.bytes), text_field("runs", d.runs),
                            text_field("file_bytes", d.file_bytes), text_field("writer_bytes", d.writer_bytes),
                            text_field("bits", d.bits)})
                fields.push_back(std::move(x));
        }
        out.result("DIFFERENT " + d.where + ": " + (d.offset >= 0 ? d.text : "file " + d.file + ", writer " + d.writer),
                   fields);
    }
    if (!f.look.differences.empty())
        out.result("DIFFERENT IN ALL " + std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes") + " in " +
                       std::to_string(pages) + (pages == 1 ? " page" : " pages"),
                   {text_field("where", "total"), number_field("bytes", bytes), number_field("pages", pages)});
    print_unit_seen(f, out);
}

}  // namespace

const std::vector<operation>& operations() {
    static const std::vector<operation> ops = {
        {.name = "erase", .click = allunlock_erase_Click, .what = "ERASE ALL FLASH", .example = "torvela-cli erase",
         .rehearsed = true},
        {.name = "save", .click = ramdata_get_Click, .file = file_use::memories_save,
         .what = "SAVE MEMORIES TO FILE into FILE (created if missing); the writer's memories are erased once "
                 "they are verified in FILE",
         .example = "torvela-cli save unit.dat", .files = 1, .rehearsed = true},
        {.name = "backup", .click = backup_memories_Click, .file = file_use::memories_save,
         .what = "the save's read and verify into FILE (created if missing), its copy kept and recorded, and no "
                 "erase: the writer keeps its memories",
         .example = "torvela-cli backup unit-before-repair.dat", .files = 1, .rehearsed = true},
        {.name = "transmit", .click = ramdata_store_Click, .file = file_use::memories_file,
         .what = "TRANSMIT MEMORIES from FILE", .example = "torvela-cli transmit unit.dat", .files = 1,
         .rehearsed = true},
        {.name = "transmit-rom", .click = flashall_write_Click, .file = file_use::rom_data,
         .what = "TRANSMIT ROM DATA from FILE", .example = "torvela-cli transmit-rom image.mot", .files = 1,
         .rehearsed = true, .takes_control = true},
        {.name = "block-write", .click = flashblock_write_Click, .file = file_use::rom_data,
         .what = "writer block write of FILE: the pages of FILE in the blocks of --blocks are written, after "
                 "ブロック２ and ブロック４ to ブロック８ are erased whatever --blocks says",
         .example = "torvela-cli --m32r --blocks 5,6 block-write image.mot", .files = 1, .rehearsed = true,
         .takes_blocks = true, .takes_control = true},
        {.name = "write", .click = write_Click, .file = file_use::rom_data, .how = start::needs_open_port,
         .what = "plain write of FILE", .example = "torvela-cli write image.mot", .files = 1, .rehearsed = true},
        {.name = "verify", .click = verify_Click, .file = file_use::rom_data, .how = start::needs_open_port,
         .what = "verify FILE", .example = "torvela-cli verify image.mot", .files = 1, .rehearsed = true},
        {.name = "target-direct-write", .click = unit_3mode_Click, .file = file_use::rom_data,
         .what = "target direct write of FILE", .example = "torvela-cli --limit 10 target-direct-write image.mot",
         .files = 1, .rehearsed = true, .takes_control = true},
        {.name = "version-up", .click = writer_versionup_Click, .file = file_use::rom_data,
         .what = "writer version up from FILE", .example = "torvela-cli version-up writer.mot", .files = 1,
         .own_filter = true, .rehearsed = true},
        {.name = "id-check", .click = id_check_Click, .file = file_use::any_file, .how = start::needs_open_port,
         .what = "writer-ID check (FILE as the window's chosen file)", .example = "torvela-cli id-check unit.dat",
         .files = 1},
        {.name = "block-erase", .click = block_erase_Click, .how = start::needs_open_port,
         .what = "erase the blocks of --blocks (needs --m32r or --m16c)",
         .example = "torvela-cli --m32r --blocks 3,4 block-erase", .needs_family = true, .lists_blocks = true,
         .rehearsed = true},
        {.name = "lock-read", .click = rockbit_read_Click, .how = start::needs_open_port,
         .what = "read the lock bits of --blocks (needs --m32r or --m16c)",
         .example = "torvela-cli --m32r --blocks 3 lock-read", .needs_family = true, .results = print_lock_reads},
        {.name = "lock-set", .click = rockbit_set_Click, .how = start::needs_open_port,
         .what = "set the lock bits of --blocks (needs --m32r or --m16c)",
         .example = "torvela-cli --m32r --blocks 3 lock-set", .needs_family = true, .lists_blocks = true,
         .rehearsed = true},
        {.name = "lock-enable", .click = rockbit_on_Click, .how = start::needs_open_port,
         .what = "enable the lock bits", .example = "torvela-cli lock-enable", .rehearsed = true},
        {.name = "lock-disable", .click = rockbit_non_Click, .how = start::needs_open_port,
         .what = "disable the lock bits", .example = "torvela-cli lock-disable", .rehearsed = true},
        {.name = "switch", .click = swon_en_Click, .how = start::needs_open_port, .what = "switch operation",
         .example = "torvela-cli switch", .rehearsed = true},
        {.name = "target-write", .click = target_write_Click, .how = start::needs_open_port,
         .what = "writer to target write (waits as long as it takes; Ctrl+C ends it)",
         .example = "torvela-cli target-write", .rehearsed = true},
        {.name = "write-count", .click = write_count_Click, .how = start::opens_port,
         .what = "read the writer's write counts", .example = "torvela-cli write-count",
         .results = print_write_counts},
        {.name = "info", .click = start_writer_info,
         .what = "what the writer holds: CPU type, machine version, write counts, memories held or blank, and "
                 "the jobs of this bench that left the same unit in a file (reads only)",
         .example = "torvela-cli --port COM2 --json info", .results = print_info},
        {.name = "compare", .click = start_memories_compare, .file = file_use::memories_file,
         .what = "FILE against the writer's memories, page by page (reads only; exit 4 when they differ)",
         .example = "torvela-cli compare unit.dat", .files = 1, .results = print_differences},
        {.name = "read-rom", .click = start_rom_read, .file = file_use::rom_output,
         .what = "the ROM image the writer holds, read into FILE as S-records at the addresses transmit-rom "
                 "writes them from (needs --m32r or --m16c; --blocks: only those; blank pages left out; reads only)",
         .example = "torvela-cli --m16c read-rom held-image.mot", .files = 1, .takes_blocks = true,
         .needs_map = true},
        {.name = "show", .file = file_use::memories_file, .how = start::no_writer,
         .what = "a memories file page by page, in hex with its text (no port)", .example = "torvela-cli show unit.dat",
         .files = 1, .run = show_file},
        {.name = "diff", .file = file_use::memories_file, .how = start::no_writer,
         .what = "the pages and bytes in which two memories files differ (no port; exit 4 when they do)",
         .example = "torvela-cli diff before.dat after.dat", .files = 2, .run = diff_files},
        {.name = "history", .how = start::no_writer,
         .what = "the jobs of every window and command line, newest last, with the copies of the units the saves "
                 "kept (no port); --file FILE, --machine-version TEXT, --outcome NAME and --unit FILE (the saves of "
                 "the unit FILE holds) choose among them; --shop: every bench's, from the shop",
         .example = "torvela-cli history --unit unit.dat", .run = show_history},
        {.name = "sync", .how = start::no_writer,
         .what = "the records waiting in this bench's outbox to the shop (exit 0 when none waits after it)",
         .example = "torvela-cli sync", .run = sync_shop},
        {.name = "shop-unit", .how = start::no_writer,
         .what = "a unit the shop keeps, by its record's id (history --shop --json) or its SHA-256, into the new "
                 "FILE, its SHA-256 checked",
         .example = "torvela-cli shop-unit 0123456789abcdef0123456789abcdef unit.dat", .files = 2, .run = shop_unit},
        {.name = "ports", .how = start::no_writer,
         .what = "COM1 to COM16: the device each stands for and whether it is there; the serial devices present",
         .example = "torvela-cli ports", .run = list_ports},
    };
    return ops;
}

namespace {

const operation* find_operation(std::string_view name) {
    for (const operation& op : operations())
        if (name == op.name) return &op;
    return nullptr;
}

std::string synopsis(const operation& op) {
    if (op.run == shop_unit) return std::string(op.name) + " ID FILE";
    return std::string(op.name) + (op.files == 2 ? " FILE FILE" : op.files == 1 ? " FILE" : "");
}

void usage(std::FILE* to) {
    say(to,
        "usage: torvela-cli [--port COMn|DEVICE] [--m32r|--m16c] [--blocks LIST] [--limit N|unlimited]\n"
        "                   [--id TEXT] [--trace] [--quiet] [--json] [--dry-run] [--yes] [--] OPERATION [FILE]\n"
        "       torvela-cli help OPERATION | OPERATION --help\n"
        "       torvela-cli --help | --version\n\n"
        "Options take their value as the next argument or after '=' (--port=COM3).\n"
        "  -p, --port COMn|DEVICE\n"
        "                      the writer's port (default $TORVELA_PORT, else COM1): COMn as in the\n"
        "                      window (the link comN in $XDG_CONFIG_HOME/torvela/ports, else\n"
        "                      /dev/ttyS<N-1>; COMn on Windows), or a device path\n"
        "  --m32r, --m16c      the CPU family's block map (Option1, Option2)\n"
        "  --blocks LIST       blocks as the window labels them, 0 to 8 for ブロック０..ブロック８\n"
        "                      (M16C: 0 to 6), as 2,3: ticks their check boxes and, for block-write,\n"
        "                      the block dialog's; block-erase and lock-set list them by their\n"
        "                      labels first (on a terminal they ask); M32R's ブロック０ and ブロック１\n"
        "                      and the M16C map are never sent by block-erase, lock-read, lock-set\n"
        "  -y, --yes           block-erase and lock-set on a terminal: do not ask\n"
        "  --limit N|unlimited the count of writing to the target (1 to 200)\n"
        "  --id TEXT           the previous ID (ticks the ID check box)\n"
        "  --trace             every frame on the line in hex\n"
        "  -q, --quiet         only the last status\n"
        "  --json              every line on standard output as one JSON object\n"
        "  -n, --dry-run       for an operation that changes the writer (and verify): its checks,\n"
        "                      then what it would send, without opening the port\n"
        "  -h, --help          this text\n"
        "  -V, --version       the version\n"
        "Each operation takes only its own options (help OPERATION lists them); any other is a\n"
        "usage error.\n\n"
        "operations:\n");
    for (const operation& op : operations()) say(to, "  %-20s %s\n", synopsis(op).c_str(), op.what);
    say(to,
        "\nEvery change of the status line is printed with the seconds since the start.\n"
        "Exit status: 0 the operation ended with its success text; 1 it ended with an error\n"
        "text (also on standard error) or was interrupted; 2 usage error or a file that cannot\n"
        "be used; 3 the port cannot be opened; 4 compare or diff found differences.\n");
}

bool is_outcome_name(const std::string& name) {
    for (const outcome o : every_outcome)
        if (name == outcome_name(o)) return true;
    return false;
}

std::string outcome_list(const char* between) {
    std::string list;
    for (const outcome o : every_outcome) list += (list.empty() ? "" : between) + std::string(outcome_name(o));
    return list;
}

// Whether the operation does anything with the option (its long name).
// --dry-run and history's filters have their own messages.
bool takes_option(const operation& op, std::string_view option) {
    if (option == "--port" || option == "--trace") return op.how != start::no_writer;
    if (option == "--m32r" || option == "--m16c" || option == "--blocks") return op.needs_family || op.takes_blocks;
    if (option == "--limit" || option == "--id") return op.takes_control;
    if (option == "--yes") return op.lists_blocks;
    return true;
}

constexpr const char* checked_options[] = {"--port", "--m32r", "--m16c", "--blocks", "--limit", "--id", "--trace",
                                           "--yes"};

std::string option_refused(const operation& op, const std::string& option) {
    if (takes_option(op, option)) return {};
    // --port and --trace go with every operation that talks to a writer.
    std::string by = option == "--port" || option == "--trace" ? "every operation that talks to a writer" : "";
    if (by.empty())
        for (const operation& other : operations())
            if (takes_option(other, option)) by += (by.empty() ? "" : ", ") + std::string(other.name);
    return option + ": " + op.name + " does not take it; it is for " + by;
}

int help_operation(const operation& op) {
    say(stdout, "torvela-cli %s\n\n  %s\n\nexample:\n  %s\n", synopsis(op).c_str(), op.what, op.example);
    std::string takes = "--quiet --json";
    for (const char* option : checked_options)
        if (takes_option(op, option)) takes += std::string(" ") + option;
    if (op.rehearsed) takes += " --dry-run";
    if (op.run == show_history) takes += " --file --machine-version --outcome --unit --shop";
    say(stdout, "\noptions it takes: %s\n", takes.c_str());
    if (op.run == show_history) say(stdout, "\n--outcome NAME takes one of:\n  %s\n", outcome_list("\n  ").c_str());
    if (op.needs_family) say(stdout, "\nneeds --m32r or --m16c (the block map) and --blocks\n");
    if (op.needs_map) say(stdout, "\nneeds --m32r or --m16c (the block map); --blocks chooses among its blocks\n");
    if (op.rehearsed) say(stdout, "\n--dry-run shows its checks and what it would send, without the port\n");
    return success;
}

// "--opt=value" as two arguments, short options as long ones; after "--"
// nothing is an option.
std::vector<std::string> normalise(const std::vector<std::string>& args) {
    static const std::pair<const char*, const char*> shorts[] = {
        {"-p", "--port"}, {"-q", "--quiet"}, {"-h", "--help"}, {"-V", "--version"}, {"-n", "--dry-run"}, {"-y", "--yes"}};
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

std::string parse_port(const std::string& v, options& o) {
    if (v.size() > 3 && (v.rfind("COM", 0) == 0 || v.rfind("com", 0) == 0) &&
        v.find_first_not_of("0123456789", 3) == std::string::npos) {
        const std::string digits = v.substr(3);
        const int n = digits.size() <= 2 ? std::stoi(digits) : 0;
        if (n < 1 || n > 16) return "--port: COM1 to COM16";
        o.choices.com = n, o.device.clear();
    } else if (v.empty()) {
        return "--port needs COMn or a device";
    } else {
        o.device = v, o.choices.com.reset();
    }
    return {};
}

std::string parse_blocks(const std::string& v, options& o) {
    std::set<int> b;
    std::size_t at = 0;
    while (at <= v.size()) {
        const std::size_t comma = std::min(v.find(',', at), v.size());
        const std::string n = v.substr(at, comma - at);
        if (n.size() != 1 || n[0] < '0' || n[0] > '8')
            return "--blocks: the block numbers the window shows, ブロック０ to ブロック８, as 2,3";
        b.insert(n[0] - '0');
        at = comma + 1;
    }
    o.choices.blocks = b;
    return {};
}

std::string parse_limit(const std::string& v, options& o) {
    if (v == "unlimited") {
        o.choices.limit = "UNLIMITED";
        return {};
    }
    if (v.empty() || v.size() > 3 || v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1 ||
        std::stoi(v) > 200)
        return "--limit: 1 to 200 or unlimited";
    o.choices.limit = std::to_string(std::stoi(v));
    return {};
}

// One option at args[i] (its value after it); an empty text when it is good.
std::string parse_option(const std::vector<std::string>& args, std::size_t& i, options& o) {
    const std::string& a = args[i];
    std::string v;
    auto value = [&](const char* missing) -> std::string {
        if (i + 1 >= args.size()) return missing;
        v = args[++i];
        return {};
    };
    std::string why;
    if (a == "--port") return !(why = value("--port needs COMn or a device")).empty() ? why : parse_port(v, o);
    if (a == "--blocks") return !(why = value("--blocks needs a list")).empty() ? why : parse_blocks(v, o);
    if (a == "--limit") return !(why = value("--limit needs N or unlimited")).empty() ? why : parse_limit(v, o);
    if (a == "--id") {
        return !(why = value("--id needs a text")).empty() ? why : (o.choices.id = v, std::string());
    }
    for (auto [name, slot] : {std::pair{"--file", &o.on_file}, {"--machine-version", &o.machine_version},
                              {"--outcome", &o.outcome_named}, {"--unit", &o.unit_of}})
        if (a == name) return !(why = value("needs a value")).empty() ? a + " " + why : (*slot = v, std::string());
    if (a == "--m32r" || a == "--m16c") {
        if (o.choices.family != cpu_choice::none) return "--m32r and --m16c: one of them";
        o.choices.family = a == "--m32r" ? cpu_choice::m32r : cpu_choice::m16c;
        return {};
    }
    if (a == "--shop") {
        o.from_shop = true;
        return {};
    }
    bool* flag = a == "--trace" ? &o.trace : a == "--quiet" ? &o.quiet : a == "--json" ? &o.json
               : a == "--dry-run" ? &o.dry_run : a == "--yes" ? &o.yes : nullptr;
    if (!flag) return "unknown option " + a;
    *flag = true;
    return {};
}

std::string parse(const std::vector<std::string>& args, options& o) {
    // The environment's port first; --port overrides it.
    const char* env = std::getenv("TORVELA_PORT");
    if (env && *env)
        if (std::string why = parse_port(env, o); !why.empty()) return "TORVELA_PORT: " + why;
    const bool port_env_empty = env && !*env;
    std::vector<std::string> rest;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options_end && a == "--") {
            options_end = true;
        } else if (!options_end && a.size() > 1 && a[0] == '-') {
            if (std::string why = parse_option(args, i, o); !why.empty()) return why;
            o.given.push_back(a);
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) return "no operation";
    o.op = find_operation(rest[0]);
    if (!o.op) return "unknown operation " + rest[0];
    // Set but empty is no choice of port: never COM1 by default then.
    if (port_env_empty && !o.choices.com && o.device.empty() && o.op->how != start::no_writer)
        return "TORVELA_PORT is set but empty: name the port in it or with --port, or unset it for COM1";
    if (o.choices.family == cpu_choice::none && (o.op->needs_family || o.op->needs_map))
        return std::string(o.op->name) + " needs --m32r or --m16c (the block map)";
    if (rest.size() < static_cast<std::size_t>(1 + o.op->files))
        return std::string(o.op->name) + " needs " + (o.op->files == 2 ? "two FILEs" : "a FILE");
    if (rest.size() > static_cast<std::size_t>(1 + o.op->files)) return "too many arguments";
    if (o.choices.blocks) {
        if (o.choices.family == cpu_choice::m16c)
            for (const int label : *o.choices.blocks)
                if (!check_box_of({&m16c_family, label})) return "--blocks: the M16C map has ブロック０ to ブロック６";
        if (o.op->needs_family)
            if (std::string why = blocks_never_sent(o.choices.family, *o.choices.blocks); !why.empty())
                return "--blocks: " + why;
    }
    if ((o.on_file || o.machine_version || o.outcome_named || o.unit_of || o.from_shop) && o.op->run != show_history)
        return "--file, --machine-version, --outcome, --unit and --shop choose among the jobs of history only";
    if (o.outcome_named && !is_outcome_name(*o.outcome_named))
        return "--outcome: \"" + *o.outcome_named + "\" is no outcome; the outcomes are " + outcome_list(", ");
    if (o.dry_run && !o.op->rehearsed)
        return std::string("--dry-run: ") + o.op->name + " changes nothing on the writer (it sends reads only, or no " +
               "command at all): run it without --dry-run";
    for (const std::string& given : o.given)
        if (std::string why = option_refused(*o.op, given); !why.empty()) return why;
    o.files.assign(rest.begin() + 1, rest.end());
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
        say(stderr, "torvela-cli: %s\n", line.c_str());
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

bool is_terminal(int fd) {
#ifdef _WIN32
    return _isatty(fd) != 0;
#else
    return isatty(fd) != 0;
#endif
}

// Milliseconds on the steady clock since the program began.
std::int64_t now_ms() {
    static const auto started = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
}

// Runs the pressed operation to its end on the driver's timers; the exit
// status of an interrupt, or success when it ran to its end.
int run_to_end(front_driver& driver, main_form& f, seq_files& files, output& out, bool is_job) {
    auto running = [&] { return f.engine_step != 0 || (is_job && f.job_no != 0); };
#ifdef _WIN32
    // The 4 ms engine needs a finer sleep than the default 15.6 ms.
    timeBeginPeriod(1);
#endif
    int code = success;
    while (running()) {
        if (interrupted) {
            abort_sequence(f, outcome::interrupted, "INTERRUPTED", file1::close);
            files.close(2);
            code = failed;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max<std::int64_t>(0, driver.next_due() - now_ms())));
        const std::int64_t now = now_ms();
        if (!driver.tick(now)) continue;
        // The status line and the progress line, as a window draws them.
        if (const auto status = driver.take_status()) out.status(*status);
        out.progress(f, driver.advance_progress(now));
    }
#ifdef _WIN32
    timeEndPeriod(1);
#endif
    out.finish();
    return code;
}

// How the operation ended: its results, the exit status, and on standard
// error (once) what failed and what happened.
int conclude(const main_form& f, const options& o, output& out, int interrupted_code) {
    const std::string& last = f.Label9.caption;
    int code = interrupted_code != success          ? interrupted_code
               : f.last_outcome == outcome::success   ? success
               : f.last_outcome == outcome::different ? different
                                                      : failed;
    if (o.op->results && (code == success || code == different)) o.op->results(f, out);
    out.end(outcome_name(f.last_outcome), last, f.detail, code);
    // A success with something to add (the file a link led to).
    if (code == success && !f.detail.empty() && !o.json) say(stderr, "torvela-cli: %s\n", f.detail.c_str());
    if (code == success) return code;
    if (interrupted_code != success) {
        say(stderr, "interrupted\n");
    } else if (!(o.quiet && is_terminal(1) && is_terminal(2)) || o.json) {
        // The status once on a terminal: --quiet has just printed it there.
        say(stderr, "%s\n", last.empty() ? "the operation did not start" : last.c_str());
    }
    if (const std::string note = failure_note(f); !note.empty()) say(stderr, "torvela-cli: %s\n", note.c_str());
    return code;
}

// The job's record (and any an earlier job left) to the shop: the job is
// done whatever the shop does; its end note says what waits.
void publish_waiting(main_form& f, shop_courier& courier) {
    const shop_outbox::delivery d = courier.settle(5000);
    if (const std::string note = courier.outbox().waiting_note(d); !note.empty())
        f.detail += (f.detail.empty() ? "" : "; ") + note;
}

int run_with_writer(const options& o, output& out) {
    catch_interrupts();
    std_seq_files files;
    device_port device;
    device.device_override = o.device;
    traced_port serial(device);
    yes_box box;
    argument_dialogs dlg(o);
    main_form f(serial, box, dlg, files);
    job_history history = job_history::for_user();
    f.history = &history;
    f.program = "torvela-cli";
    // With a shop named, each record goes through the outbox; it is sent
    // once the job has ended, within a few seconds, or waits.
    const shop_address shop = shop_address::for_user();
    std::unique_ptr<shop_courier> courier;
    if (shop.named()) {
        courier = std::make_unique<shop_courier>(history, shop, make_http_client());
        f.publish = [&](const job_record& r) { return courier->publish(r); };
    }
    front_driver driver(f, serial, timer_driver::offered::by_one_loop);
    driver.load(now_ms());
    if (const std::string why = set_up(f, o); !why.empty()) {
        say(stderr, "torvela-cli: %s\n", why.c_str());
        out.end("file problem", "", why, unusable);
        return unusable;
    }
    // On a terminal the operator confirms the blocks just listed, as the
    // window's question does; a script says --yes.
    if (o.op->lists_blocks && !o.yes && is_terminal(0) && is_terminal(2)) {
        say(stderr, "torvela-cli: %s these blocks on %s? [y/N] ",
            o.op->click == block_erase_Click ? "erase" : "set the lock bits of", f.Combo2.caption.c_str());
        char answer[16] = {};
        const bool read = std::fgets(answer, sizeof answer, stdin) != nullptr;
        if (!read || (answer[0] != 'y' && answer[0] != 'Y')) {
            say(stderr, "%storvela-cli: not confirmed: nothing was sent, the writer is as it was\n", read ? "" : "\n");
            out.end("no outcome", "", "not confirmed: nothing was sent", failed);
            return failed;
        }
    }
    if (o.trace) serial.on_line = [&](const trace_line& t) { out.trace(trace_text(t)); };
    f.pressed = o.op->name;
    auto port_error = [&] {
        settle_operation(f);
        if (out.json()) out.end(outcome_name(outcome::no_port), "PORT OPEN ERROR", f.detail, no_port);
        say(stderr, "PORT OPEN ERROR\ntorvela-cli: %s\n", f.detail.c_str());
        return no_port;
    };
    if (o.op->how == start::needs_open_port && !open_port_prologue(f)) return port_error();
    driver.take_status();
    guarded(f, o.op->click);
    if (const auto status = driver.take_status()) out.status(*status);
    if (f.last_outcome == outcome::no_port) return port_error();
    const int code = run_to_end(driver, f, files, out, o.op->how == start::job);
    settle_operation(f);  // an interrupt ends the job outside the timers
    // One-step operations leave the port as they found it: closed.
    if (o.op->how != start::job) close_port(f);
    driver.unload();
#ifdef _WIN32
    cleaned_up = true;
#endif
    if (courier) publish_waiting(f, *courier);
    return conclude(f, o, out, code);
}

}  // namespace

std::string set_up(main_form& f, const options& o) {
    set_up_form(f, o.choices);
    // Say what will go before it goes.
    if (o.op->lists_blocks)
        say(stderr, "torvela-cli: %s: %s%s\n", o.op->name,
            o.choices.blocks ? "" : "no --blocks, the blocks ticked at start: ", blocks_to_send(f).c_str());
    if (o.op->file == file_use::none) return {};
    return check_operation_file(f, o.op->file, o.files.at(0), o.op->own_filter ? rom_filter::own : rom_filter::store);
}

}  // namespace cli

int main(int argc, char** argv) {
    using namespace cli;
    const std::vector<std::string> args = normalise(arguments(argc, argv));
    const bool help = std::find(args.begin(), args.end(), "--help") < std::find(args.begin(), args.end(), "--");
    // help OPERATION, OPERATION --help
    for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        const operation* op = find_operation(args[i]);
        if (op && (help || (i > 0 && args[i - 1] == "help"))) return help_operation(*op);
    }
    if (args.size() == 2 && args[0] == "help") {
        say(stderr, "torvela-cli: unknown operation %s\nTry 'torvela-cli --help' for more information.\n",
            args[1].c_str());
        return unusable;
    }
    if (help || (args.size() == 1 && args[0] == "help")) {
        usage(stdout);
        return success;
    }
    if (std::find(args.begin(), args.end(), "--version") < std::find(args.begin(), args.end(), "--")) {
        say(stdout, "torvela-cli %s\n", TORVELA_VERSION);
        return success;
    }
    options o;
    if (const std::string why = parse(args, o); !why.empty()) {
        say(stderr, "torvela-cli: %s\nTry 'torvela-cli --help' for more information.\n", why.c_str());
        // A script that asked for JSON gets its last object all the same.
        const auto options_end = std::find(args.begin(), args.end(), "--");
        if (std::find(args.begin(), options_end, "--json") != options_end)
            output(style::json, false).end("usage error", "", why, unusable);
        return unusable;
    }
    output out(o.json ? style::json : is_terminal(1) ? style::terminal : style::plain, o.quiet);
    if (o.op->run) return o.op->run(o, out);
    if (o.dry_run) return rehearse(o, out);
    return run_with_writer(o, out);
}
