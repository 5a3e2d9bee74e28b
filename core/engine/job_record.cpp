// Every operation's end goes into the job history: what ran, on which
// writer, with which file (and its SHA-256), what the writer told about
// itself, how it ended and what stands now, and the unit kept.
#include <filesystem>
#include <system_error>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "platform/disk_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"

namespace torvela {

namespace {

// The file the operation used, as its job (or its exchange on its own) says:
// the file the operator chose, never a work file of the tool's.
std::string file_of(const main_form& f, std::uint8_t job, const exchange* x) {
    const file_used use = job != 0 ? job_file(job) : x ? x->file : file_used::none;
    return use == file_used::none ? std::string() : f.memory_file_path;
}

}  // namespace

void record_operation(main_form& f, std::uint8_t job, std::uint8_t step) {
    if (!f.history) return;
    const exchange* x = find_step(step).of;
    job_record r;
    r.id = new_record_id();
    r.time = local_time_stamp();
    r.program = f.program;
    r.port = f.Combo2.caption;
    r.device = f.MSComm1.device();
    r.operation = job != 0 ? job_name(job) : x ? x->name : f.pressed;
    r.file = file_of(f, job, x);
    // What the job itself read or wrote of the file; a job that ended
    // before it did names the file alone.
    if (!r.file.empty()) {
        r.file_resolved = f.found.file_resolved;
        r.file_sha256 = f.found.file_sha256;
    }
    r.unit_sha256 = f.found.unit_sha256;
    r.cpu = f.found.cpu;
    r.machine_version = f.found.version;
    r.write_counts = f.found.counts;
    r.outcome = outcome_name(f.last_outcome);
    r.status = f.Label9.caption;
    r.detail = f.detail;
    r.kept = f.found.kept_unit;
    r.kept_sha256 = f.found.kept_sha256;
    std::string why;
    // A history that cannot be written stops no job, and changes neither
    // its outcome nor its status: its end note says so.
    if (!f.history->append(r, why)) {
        const std::string note = "this job was not recorded in the job history: " + why;
        f.detail += (f.detail.empty() ? "" : "; ") + note;
        f.MSComm1.note(note);
        return;
    }
    // What the history holds goes to the shop: never a record it lacks.
    if (f.publish)
        if (const std::string note = f.publish(r); !note.empty()) {
            f.detail += (f.detail.empty() ? "" : "; ") + note;
            f.MSComm1.note(note);
        }
}

void note_chosen_file(main_form& f, const std::string& sha256) {
    std::error_code ec;
    const auto resolved = std::filesystem::canonical(path_from_utf8(f.memory_file_path), ec);
    f.found.file_resolved = ec ? std::string() : utf8_from_path(resolved);
    f.found.file_sha256 = sha256;
}

}  // namespace torvela
