// The main window's state: every form-level variable with its width, and the
// control model the handlers change and the window only mirrors.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "console/cpu_family.hpp"
#include "platform/platform.hpp"
#include "platform/pending_save.hpp"


namespace torvela {

class seq_files;
class private_work_folder;
class job_history;
struct job_record;

enum class control_kind : std::uint8_t {
    label,
    button,
    combo,
    check,
    option,
    text,
    image,
    timer,
};

// How the last operation ended, beside its status text in Label9.
enum class outcome : std::uint8_t {
    none,                // nothing has ended since it began
    success,             // it ended with its success text
    writer_refused,      // the writer answered no: a refusal, an error page, pages that differ
    writer_state,        // the tool's own check of what the writer holds stopped the job
    communication_lost,  // a wrong or missing answer, the port lost under it
    file_problem,        // a file could not be read, written or used
    no_port,             // the port could not be opened
    interrupted,         // the operator ended it from outside (a signal, a closed window)
    different,           // a comparison found the writer holding other data than the file
    internal_error,      // the tool itself failed (an unexpected exception)
};

// The busy indicator's reset at the end of an operation: which of the
// pictures go back to the idle state.
enum class indicator : std::uint8_t {
    untouched,
    spinner,             // Image2..Image4 hidden
    spinner_and_arrows,  // Image2..Image9 hidden
    all,                 // and the up arrows Image12..Image16
};

struct main_form;
// An event handler: a control's click or change, a timer's tick.
using handler = void (*)(main_form&);

struct control {
    std::string name;
    // Where the service view shows a control hidden at design time whose
    // design position lies in the operator's area; 0: its design position.
    int service_left = 0, service_top = 0;
    control_kind kind = control_kind::label;
    // Design position and size in twips (15 twips to a pixel).
    int left = 0, top = 0, width = 0, height = 0;
    std::string caption;  // caption of labels and buttons, text of combos and text boxes
    int value = 0;        // check box / option button value
    bool visible = true;
    bool enabled = true;  // for timers: running
    int interval = 0;     // timers only, milliseconds
    std::vector<std::string> items;  // combo box list
    // What the control runs when clicked (or chosen, for combos, check
    // boxes and option buttons) and when its text changes; null for none.
    handler click = nullptr;
    handler change = nullptr;
};

// One row of the control table: a control's design, its handlers and, for
// a control hidden at design time whose design position lies in the
// operator's area, where the service view shows it.
struct control_design {
    control main_form::*member;
    const char* name;
    control_kind kind;
    int left, top, width, height;
    const char* caption;
    bool visible;
    handler click = nullptr;
    handler change = nullptr;
    int service_left = 0, service_top = 0;
};
// The table, in design order; defined beside the handlers it names.
std::span<const control_design> control_table();

struct main_form {
    main_form(serial_port& port, message_box& box, dialogs& dlg, seq_files& files);
    ~main_form();
    main_form(const main_form&) = delete;
    main_form& operator=(const main_form&) = delete;

    // ---- platform services -------------------------------------------------
    serial_port& MSComm1;
    message_box& msgbox;
    dialogs& dialog;
    seq_files& files;

    // ---- form-level variables ----------------------------------------------
    std::uint8_t engine_step = 0;
    std::uint8_t job_no = 0;
    std::uint8_t job_phase = 0;
    std::uint8_t last_step = 0;
    outcome last_outcome = outcome::none;
    // Beside the status text of a failure: what happened, to what, and what
    // to do next; empty while nothing has failed since the last start.
    std::string detail;
    // A command that erases, writes or locks went to the writer since the
    // job began.
    bool writer_changed = false;
    // What those commands were, for the note on what the writer holds when
    // the job fails: the erases and writes in the order they went (a block
    // erase by its check box, a page write by its page), and whether a lock
    // or target write went.
    struct writer_changes {
        bool erase_all = false;
        std::vector<int> blocks;  // check boxes 3..9
        int pages = 0;            // page writes sent of the chosen file
        int control_pages = 0;    // of the control work file (the tool's own pages)
        bool control_pass = false;  // the control work file's pass is under way
        bool locks = false, target = false;
    } changes;
    std::int16_t watchdog_ticks = 0;
    // Before a job's first command the line must have been quiet for a
    // while: the engine ticks since a byte last came, the ticks the job has
    // waited for that, and whether its first phase waits for the engine.
    std::uint16_t quiet_ticks = 0, quiet_waited = 0;
    bool first_phase_waits = false;
    // The engine has just started the job's first phase off the sequencer's
    // grid: the sequencer's next tick is a whole interval from now.
    bool sequencer_from_now = false;
    std::string rx_text;
    std::vector<std::uint8_t> rx_bytes;
    std::array<std::uint8_t, 2> tx_frame{};
    std::array<std::uint8_t, 4> block_frame{};
    std::array<std::uint8_t, 9> block_select{};
    std::array<std::uint8_t, 4> address_frame{};
    std::array<std::uint8_t, 32> id_code_text{};
    std::int16_t comm_port = 0;
    std::int16_t write_count_limit = 0;
    std::string memory_file_path;
    std::string image_file_path;
    std::string control_file_path;
    // The memories file as TRANSMIT MEMORIES checked it: the pages sent and
    // verified are the ones checked, whatever happens to the file meanwhile.
    std::string memories_copy_path;
    std::uint8_t cpu_is_m32r = 0;
    std::uint8_t cpu_is_m16c = 0;
    std::uint8_t block_filter_on = 0;
    std::uint8_t block_write_mode = 0;
    std::uint8_t pass_flag = 0;
    std::int16_t verify_retries = 0;
    std::int16_t spinner_frame = 0;
    std::int16_t arrow_frame = 0;
    std::string first_line_bytes;  // field last read from a memories file, as bytes
    // writer write count
    std::uint8_t count_pass = 0;
    std::int32_t writer_count_a = 0;
    std::int32_t writer_count_b = 0;
    std::int32_t unary_count = 0;

    // The tool holds the port open (it opened it and has not closed it). A
    // port that reads closed while this is set was lost under the tool.
    bool port_held = false;
    // The new memories file of a running save (job 4).
    pending_save save;
    // Pages moved in the current pass over a file or the memories area
    // (written, read or verified); `pass` counts the passes begun, so a
    // front end can time each one.
    struct page_progress {
        enum class kind : std::uint8_t { write, verify, read };
        int done = 0;
        int total = 0;
        std::uint32_t pass = 0;
        kind what = kind::write;
        // The passes still to come in the same job, in order, and the
        // sequencer intervals the job runs on after its last pass.
        struct pass_plan {
            kind what = kind::write;
            int pages = 0;
        };
        std::vector<pass_plan> later;
        int closing_phases = 1;
        // False once the operation the pass belongs to has ended.
        bool running = false;
    } progress;
    // A look at the writer that changes nothing (jobs 8 and 9): the pages
    // to read in order, those read so far, and what was found.
    struct writer_look {
        std::vector<std::array<std::uint8_t, 2>> to_read;  // page addresses (high, mid)
        std::vector<std::array<std::uint8_t, 256>> pages;  // as read, in that order
        bool counts_read = false;
        std::string file_copy;  // job 9: the checked memories file
        // Job 8: the CPU type, the machine version as a memories file's
        // header shows it, and whether the memories area holds memories.
        std::string cpu, version;
        bool holds_memories = false;
        // Job 9: where the writer and the file differ: the CPU line, the
        // header line, or a page (its address as the file writes it) at its
        // first differing byte.
        struct difference {
            std::string where;  // "CPU", "header" or "00000500"
            int offset = -1;    // a page's first differing byte
            std::string file, writer;  // the first differing byte, or the CPU or header line
            // Of a page: every differing byte, as compare_pages gives them,
            // and the sentence that names them.
            int bytes = 0;
            std::string runs, file_bytes, writer_bytes, bits, text;
        };
        std::vector<difference> differences;
        // Jobs 8 and 9: the jobs of this bench's history that left the same
        // unit in a file (the file, or the copy its save kept), newest
        // first; `unit_note` says when none did or the history was not read.
        struct same_unit {
            std::string time, operation, file, kept;
        };
        std::vector<same_unit> unit_seen;
        std::string unit_sha256, unit_note;
    } look;
    // A lock bit read: each block read, as the window labels it, and whether
    // it is locked.
    struct lock_read {
        std::string block;
        bool locked;
    };
    std::vector<lock_read> lock_reads;
    // The private folder of the work files, made by Form_Load.
    std::unique_ptr<private_work_folder> work;
    // The job history every operation's end goes into, and where a save
    // keeps its unit: none for a rehearsal.
    job_history* history = nullptr;
    // Where each record goes after the history, for the shop (none: a bench
    // of its own). The reason when it could not go.
    std::function<std::string(const job_record&)> publish;
    // What the front end last heard of the records waiting for the shop;
    // cleared when the next operation starts.
    std::string shop_note;
    // The program running the form, as the history names it.
    std::string program;
    // What this operation read of the writer itself, for the history: its
    // CPU type, its machine version as a memories file's header shows it,
    // its write counts; the chosen file as the job read or wrote it (where
    // the system resolved it, its SHA-256); the unit it read or wrote (the
    // SHA-256 of the memories area's pages); and the kept copy of the unit
    // it saved, with its SHA-256.
    struct writer_findings {
        std::string cpu, version, counts;
        std::string file_resolved, file_sha256, unit_sha256;
        std::string kept_unit, kept_sha256;
        // Why no copy of a saved unit was kept, for the job's end note.
        std::string unkept;
    } found;
    // Outcomes set since the form was made: an operation that ended at
    // once (a port that did not open) still ends with one.
    std::uint32_t outcomes = 0;
    // The operation under way, for its record once it ends: the job, or
    // the exchange it began with, or what the front end says was pressed.
    struct operation_watch {
        bool running = false;
        std::uint32_t outcomes_seen = 0;
        std::uint8_t job = 0, step = 0;
        std::uint32_t recorded = 0;  // operations recorded so far
    } operation;
    std::string pressed;

    // ---- controls ----------------------------------------------------------
    control serial_name, Combo2, Label9, file_select, allunlock_erase, Label10;
    control Image1, Image2, Image3, Image4, Image5, Image6, Image7, Image8, Image9;
    control Image10, Image11, Image12, Image13, Image14, Image15, Image16;
    control ramdata_get, ramdata_store, flashall_write, unit_3mode, writer_versionup,
        flashblock_write;
    control rockbit_non, rockbit_on, block_erase, verify, write_count, command1, id_check,
        rockbit_set, rockbit_read, swon_en, target_write, write, Command3, backup_memories;
    control Combo1, Combo3, targetnumber, ID, privious_id_match, privious_id, ID_label;
    control Check1, Check2, Check3, Check4, Check5, Check6, Check7, Check8, Check9, Check10;
    control Label23, Label24, Label25, Label26, Label27, Label28, Label29, Label30, Label31;
    control Option1, Option2, Label32, Label33, Label34;
    control fblockA, fblockB, fblockC, fblockD, fblockE, fblockF, fblockG, fblockH, fblockI;
    control Label1, Label2, Label4, Label5, Label6, Label7, Label8, Label11, Label12;
    control Label15, Label16, Label17, Label18, Label19, Label20, Label21, Label22;
    control Timer1, Timer2, Timer3;

    // Every control, in design order (for the window and for tests).
    std::vector<control*> controls;
    control* find(const std::string& name);

    // Check1..Check10 by number (1-based), Image1..Image16, fblockA..fblockI by
    // index 0..8, Label23..Label31 for Check1..Check9. A number out of range
    // is a fault of the caller: std::out_of_range.
    control& check(int n);
    const control& check(int n) const { return const_cast<main_form*>(this)->check(n); }
    control& image(int n);
    control& fblock(int i);
    const control& fblock(int i) const { return const_cast<main_form*>(this)->fblock(i); }
    control& block_label(int n);  // Label23..Label31 for Check1..Check9
};

// ---- window handlers (console) --------------------------------------------
void Form_Load(main_form& f);
void Form_Unload(main_form& f);
void Option1_Click(main_form& f);
void Option2_Click(main_form& f);
void Combo3_Click(main_form& f);
void Combo3_Change(main_form& f);
void Check10_Click(main_form& f);
void Timer3_Timer(main_form& f);

// Busy indicator stop: Timer3 off, Image1 shown, the pictures of `reset`
// hidden.
void stop_busy_indicator(main_form& f, indicator reset);

// A pass over `total` pages begins, with the passes of the job still to
// come and the sequencer intervals after the last; one page of it is done.
void start_progress(main_form& f, int total, main_form::page_progress::kind what,
                    std::vector<main_form::page_progress::pass_plan> later = {}, int closing_phases = 1);
void page_done(main_form& f);

// Whether the job running is a save: SAVE MEMORIES TO FILE (job 4) or its
// backup (job 10).
inline bool saving_memories(const main_form& f) { return f.job_no == 4 || f.job_no == 10; }
// The family whose map the blocks are read in: the one chosen (Option1,
// Option2), else the one the chosen image's conversion set, else M32R's.
const cpu_family& block_map(const main_form& f);
// Check box `check`'s block as the window labels it: "ブロック２"; a box
// with no block in the map, by the writer's code it sends.
std::string block_named(const main_form& f, int check);
// The block the writer's code `code` stands for, named as block_named does.
std::string block_of_code_named(const main_form& f, int code);

}  // namespace torvela
