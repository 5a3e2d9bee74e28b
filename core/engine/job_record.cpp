// Every operation's end goes into the job history: what ran, on which
// writer, with which file (and its SHA-256), what the writer told about
// itself, how it ended and what stands now, and the unit kept.
#include <fstream>
#include <iterator>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "platform/disk_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"

namespace torvela {

namespace {

// The file the operation used, as its job (or its exchange on its own) says.
std::string file_of(const main_form& f, std::uint8_t job, const exchange* x) {
    const file_used use = job != 0 ? job_file(job) : x ? x->file : file_used::none;
    if (use == file_used::memories) return f.memory_file_path;
    if (use == file_used::rom_data) return f.image_file_path;
    return {};
}

std::string sha256_of_file(const std::string& path) {
    std::ifstream in(path_from_utf8(path), std::ios::binary);
    if (!in) return {};
    sha256 digest;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        digest.add(std::string_view(buffer, static_cast<std::size_t>(in.gcount())));
    return in.bad() ? std::string() : digest.hex();
}

}  // namespace

void record_operation(main_form& f, std::uint8_t job, std::uint8_t step) {
    if (!f.history) return;
    const exchange* x = find_step(step).of;
    job_record r;
    r.time = local_time_stamp();
    r.program = f.program;
    r.port = f.Combo2.caption;
    r.device = f.MSComm1.device();
    r.operation = job != 0 ? job_name(job) : x ? x->name : f.pressed;
    r.file = file_of(f, job, x);
    if (!r.file.empty()) r.file_sha256 = sha256_of_file(r.file);
    r.cpu = f.found.cpu;
    r.machine_version = f.found.version;
    r.write_counts = f.found.counts;
    r.outcome = outcome_name(f.last_outcome);
    r.status = f.Label9.caption;
    r.detail = f.detail;
    r.kept = f.found.kept_unit;
    std::string why;
    // A history that cannot be written stops no job: the trace says so.
    if (!f.history->append(r, why)) f.MSComm1.note("the job history was not written: " + why);
}

}  // namespace torvela
