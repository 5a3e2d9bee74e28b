// torvela-cli's parts: the operation table, the parsed arguments, and the
// operations that open no port.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/main_form.hpp"
#include "platform/job_history.hpp"
#include "window/script_setup.hpp"
#include "output.hpp"

namespace cli {

enum exit_code : int { success = 0, failed = 1, unusable = 2, no_port = 3, different = 4 };

// How it runs: a job of the sequencer, a step on the port opened first, a
// step that opens the port itself, or without the writer at all.
enum class start { job, needs_open_port, opens_port, no_writer };

struct options;
struct operation {
    const char* name;
    void (*click)(torvela::main_form&) = nullptr;  // what a run presses
    torvela::file_use file = torvela::file_use::none;
    start how = start::job;
    const char* what = "";
    const char* example = "";
    int files = 0;                 // FILE arguments (diff takes two)
    bool needs_family = false;     // --m32r or --m16c: the block map
    bool own_filter = false;       // the ROM data is checked with its own filter, not the store's
    bool lists_blocks = false;     // says which blocks it sends, and asks on a terminal
    bool rehearsed = false;        // --dry-run shows what it would send (it changes the writer, or verifies)
    bool takes_blocks = false;     // --m32r, --m16c and --blocks choose its blocks (needs_family implies it)
    bool takes_control = false;    // --limit and --id go into the control pages it sends
    bool needs_map = false;        // --m32r or --m16c, for the map alone (--blocks optional)
    // After a run that ended well: what it found, for a person and a script.
    void (*results)(const torvela::main_form&, output&) = nullptr;
    // An operation without the writer: the whole run.
    int (*run)(const options&, output&) = nullptr;
};
const std::vector<operation>& operations();

struct options {
    torvela::script_choices choices;
    std::string device;
    std::vector<std::string> files;
    bool trace = false, quiet = false, json = false, dry_run = false, yes = false;
    const operation* op = nullptr;
    // The options as given (their long names), to check against the operation.
    std::vector<std::string> given;
    // history's filters: the jobs on one file, of one machine version,
    // with one outcome; the saves of the unit a memories file holds.
    std::optional<std::string> on_file, machine_version, outcome_named, unit_of;
    bool from_shop = false;  // history --shop: every bench's, from the shop
};

// The dialogs answered from the arguments: the operation's file, the
// blocks of --blocks.
class argument_dialogs final : public torvela::dialogs {
public:
    explicit argument_dialogs(const options& o) : o_(o) {}
    std::string open_file(std::string_view) override { return o_.files.empty() ? std::string() : o_.files[0]; }
    void show_block_form(torvela::main_form& f, torvela::block_form& dlg) override {
        torvela::answer_block_form(f, dlg, o_.choices.blocks);
    }

private:
    const options& o_;
};

// The operations without a writer.
int list_ports(const options& o, output& out);
int show_file(const options& o, output& out);
int diff_files(const options& o, output& out);
int show_history(const options& o, output& out);
int sync_shop(const options& o, output& out);
int shop_unit(const options& o, output& out);
// A record as the shop holds it: the bench's, and the shop's own members.
struct shop_record {
    torvela::job_record r;
    std::string bench, received;
    bool unit_held = false;
};
// Every bench's records that the shop holds and --unit's digest and
// --outcome choose (the other filters are the caller's); false with why.
bool shop_records(const options& o, const std::string& unit, std::vector<shop_record>& records, std::string& why);

// The form as the options set it up, and why the operation's file cannot
// be used (an empty text when it can).
std::string set_up(torvela::main_form& f, const options& o);
// --dry-run: the checks, then what the operation would send, from a
// rehearsal against a model writer in virtual time; no port is opened.
int rehearse(const options& o, output& out);

}  // namespace cli
