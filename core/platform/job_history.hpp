// The job history and the kept units, in the user's data folder
// ($XDG_DATA_HOME/torvela, ~/.local/share/torvela by default; on Windows
// %LOCALAPPDATA%\TORVELA), private to the user:
//   history.jsonl     one record a job, a line of JSON each, appended and
//                     synced as the job ends; past `rotate_bytes` it becomes
//                     history.1.jsonl (the one before goes) and a new file
//                     begins, so the history holds the last 1 to 2 MiB
//   units/            every unit a save verified, before the writer was
//                     erased: the memories file byte for byte, named
//                     after the time and the unit's machine version; never
//                     replaced or removed by the tool. A copy is written
//                     as .keep-XXXXXXXXXXXX.tmp, synced, renamed to its
//                     name, the folder synced: a copy under its name is
//                     whole. A .keep-….tmp a killed save left is never
//                     offered, and goes at the next start of the tool
// Reading trusts what writing trusts: the data folder and torvela in it
// this user's own folders that no one else may write (torvela and units
// never a link), the files in them regular files of this user's, opened
// without following a link and without blocking. Anything else is refused
// with the reason, never read.
// An append-only file of lines: every front end and every process appends
// to it with one write at the end, which readers can read at any time, and
// a line cut short by a crash or edited by hand is skipped on its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk_files.hpp"
#include "platform/json_text.hpp"

namespace torvela {

// One job as the history keeps it. Empty texts are left out of the line.
struct job_record {
    // Made by the bench as the job ends, never again: the shop stores a
    // record once however often it is sent.
    std::string id;
    std::string time;       // local time with its offset: "2026-12-09T16:31:18+0100"
    std::string program;    // the front end: "torvela", "torvela-cli"
    std::string port, device;
    std::string operation;  // "save memories to file", "lock enable", ...
    // The file the operator chose, as given and as the system resolved it,
    // and its SHA-256 as the job read or wrote it.
    std::string file, file_resolved, file_sha256;
    // The unit the job read or wrote: the SHA-256 of the memories area's
    // 128 pages in address order, whatever file or line ends hold them.
    std::string unit_sha256;
    // What the writer told about itself, where the job read it.
    std::string cpu, machine_version, write_counts;
    std::string outcome, status, detail;
    std::string kept, kept_sha256;  // the kept copy of the unit this job saved
};
std::string record_line(const job_record& r);
// The same line with every text well-formed UTF-8 (a byte that is not as
// U+FFFD), for readers that take no lone surrogate (the shop).
std::string well_formed_record_line(const job_record& r);
// The record a history line holds; nothing for a line of anything else.
std::optional<job_record> record_from_line(std::string_view line);

// A new record id: 32 hex digits from the system's random source.
std::string new_record_id();

// "2026-12-09T16:31:18+0100" for now.
std::string local_time_stamp();

class job_history {
public:
    // The history in `folder`, made (private) when first written.
    explicit job_history(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // The user's data folder for TORVELA; empty when the system names none.
    static std::filesystem::path user_folder();
    // The user's folder, with kept units as TORVELA_KEEP says ("off": none;
    // unset, empty or "on": kept; anything else is kept_setting_problem).
    // Temporary copies that killed saves left are removed.
    static job_history for_user();

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path units_folder() const { return folder_ / "units"; }
    bool keep_units = true;
    // Why the environment's TORVELA_KEEP cannot be followed; empty when it
    // can. A save refuses to begin with it (a bench that meant "off" must
    // not store units by a slip of the keyboard).
    std::string kept_setting_problem;

    // Appends the record as one line and syncs it; false with the reason.
    bool append(const job_record& r, std::string& why);

    struct listing {
        std::vector<job_record> records;  // oldest first
        std::vector<std::string> notes;   // lines skipped, and why
        // What was not read at all, and why (a folder or file the history
        // does not trust): then nothing is listed.
        std::string refused;
    };
    listing read() const;
    // The last `count` records, oldest first, read from the end of the
    // files back: only as much as they take, however long the history.
    listing last(std::size_t count) const;

    // The unit's memories file kept as a new private file, whole or not at
    // all: its path and SHA-256, or an empty path and the reason.
    // `version` is the file's header line.
    struct kept_copy {
        std::string path, sha256;
    };
    kept_copy keep_unit(std::string_view bytes, const std::string& version, std::string& why);
    // Whether the kept copy a record names is there as the save kept it:
    // empty when it is, else what is wrong ("missing", "damaged: ...").
    std::string check_kept(const job_record& r) const;
    // For a file chosen to be sent: when it is a kept copy in units/,
    // whether its SHA-256 is the one its record holds. Empty when it is (or
    // when the file is no kept copy, or no record names it any more), else
    // what is wrong.
    std::string check_kept_file(const std::string& path, const std::string& sha256) const;
    // Removes the temporary copies that killed saves left in units/ (never
    // one a running save still writes).
    void clear_torn_copies() const;

    // The size past which history.jsonl becomes history.1.jsonl.
    std::uintmax_t rotate_bytes = 1u << 20;

    // A private folder in the history's folder ("units", "outbox"), held
    // as reading and writing both trust it; made first when `make`.
    bool open_private(const char* name, held_folder& out, bool make, bool& absent, std::string& why) const;
    // The bytes of the kept copy the record names, checked by its SHA-256:
    // false with the reason when it is not there as the save kept it.
    bool read_kept(const job_record& r, std::string& bytes, std::string& why) const;

private:
    // The history's folder (and the data folder it is in) as writing and
    // reading both trust them; made first when `make`. False with the
    // reason, or with `absent` when the folder is not there.
    bool open_folder(held_folder& out, bool make, bool& absent, std::string& why) const;
    bool open_units(held_folder& out, bool make, bool& absent, std::string& why) const;
    std::filesystem::path folder_;
};

}  // namespace torvela
