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
//                     replaced or removed by the tool
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

#include "platform/json_text.hpp"

namespace torvela {

// One job as the history keeps it. Empty texts are left out of the line.
struct job_record {
    std::string time;       // local time with its offset: "2026-12-09T16:31:18+0100"
    std::string program;    // the front end: "torvela", "torvela-cli"
    std::string port, device;
    std::string operation;  // "save memories to file", "lock enable", ...
    std::string file, file_sha256;
    // What the writer told about itself, where the job read it.
    std::string cpu, machine_version, write_counts;
    std::string outcome, status, detail;
    std::string kept;       // the kept copy of the unit this job saved
};
std::string record_line(const job_record& r);
// The record a history line holds; nothing for a line of anything else.
std::optional<job_record> record_from_line(std::string_view line);

// "2026-12-09T16:31:18+0100" for now.
std::string local_time_stamp();

class job_history {
public:
    // The history in `folder`, made (private) when first written.
    explicit job_history(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // The user's data folder for TORVELA; empty when the system names none.
    static std::filesystem::path user_folder();
    // The user's folder, with kept units as TORVELA_KEEP says ("off": none).
    static job_history for_user();

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path units_folder() const { return folder_ / "units"; }
    bool keep_units = true;

    // Appends the record as one line and syncs it; false with the reason.
    bool append(const job_record& r, std::string& why);

    struct listing {
        std::vector<job_record> records;  // oldest first
        std::vector<std::string> notes;   // lines skipped, and why
    };
    listing read() const;
    // The last `count` records, oldest first, read from the end of the
    // files back: only as much as they take, however long the history.
    std::vector<job_record> last(std::size_t count) const;

    // The unit's memories file kept as a new private file; its path, or an
    // empty text and the reason. `version` is the file's header line.
    std::string keep_unit(std::string_view bytes, const std::string& version, std::string& why);

    // The size past which history.jsonl becomes history.1.jsonl.
    std::uintmax_t rotate_bytes = 1u << 20;

private:
    bool make_private_folder(const std::filesystem::path& p, std::string& why) const;
    std::filesystem::path folder_;
};

}  // namespace torvela
