// The job history and the kept units: what a save keeps before the writer
// is erased, what every job's end records, and a history that survives
// other writers, damage and its own growth.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <chrono>
#include <future>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "erase/erase.hpp"
#include "link/link.hpp"
#include "memories/memories.hpp"
#include "service/lock_bits.hpp"
#include "service/look.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/write_count.hpp"
#include "platform/job_history.hpp"
#include "engine/steps.hpp"
#include "platform/sha256.hpp"
#include "support.hpp"
#include "window/driver.hpp"

using namespace torvela;
using namespace test_support;

namespace {

// A writer holding a unit, its form recording into a history of its own.
struct history_rig : unit_rig {
    explicit history_rig(const std::string& folder, unsigned seed = 7) : unit_rig(seed), history(path_from_utf8(folder)) {
        form->history = &history;
        form->program = "test";
    }
    job_history history;
    bool save_into(const std::string& file) {
        choose_path(file);
        ramdata_get_Click(*form);
        return run_job();
    }
};

#ifndef _WIN32
unsigned mode_of(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
#endif

}  // namespace

TEST(Sha256, KnownDigests) {
    const struct {
        std::string in;
        const char* digest;
    } table[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : table) EXPECT_EQ(sha256_hex(row.in), row.digest) << row.in.size();
}

// Whatever a record holds (a header line's bytes that are no UTF-8, quotes,
// line ends, Japanese), its line reads back as the same record.
TEST(JobHistory, RecordsReadBackAsWritten) {
    job_record r;
    r.time = "2026-12-09T16:31:18+0900";
    r.program = "torvela-cli";
    r.port = "COM3";
    r.operation = "save memories to file";
    r.file = "C:\\測定データ\\ユニット１.dat";
    r.machine_version = std::string("A ,\"\r\n/\x80\x9F\xC3\xFF\xE3\r/\n1\xFE\x7F\x01[/", 21);
    r.detail = "a \\ b \"quoted\"\ttab";
    r.kept = "/home/op/.local/share/torvela/units/x.dat";
    // Every other member with a text of its own.
    std::string job_record::*const every[] = {
        &job_record::time,        &job_record::program,     &job_record::port,          &job_record::device,
        &job_record::operation,   &job_record::file,        &job_record::file_resolved, &job_record::file_sha256,
        &job_record::unit_sha256, &job_record::cpu,         &job_record::machine_version, &job_record::write_counts,
        &job_record::outcome,     &job_record::status,      &job_record::detail,        &job_record::kept,
        &job_record::kept_sha256};
    int n = 0;
    for (auto field : every)
        if ((r.*field).empty()) r.*field = "member " + std::to_string(++n);
    const std::string line = record_line(r);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto back = record_from_line(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    for (auto field : every) EXPECT_EQ((*back).*field, r.*field);
}

// A save keeps its unit, byte for byte as verified, privately, before the
// writer is erased; the history says so, with the file's digest and what
// the writer told about itself.
TEST(JobHistory, ASaveKeepsItsUnitAndIsRecorded) {
    private_work_folder data;
    history_rig r(data.file("torvela"));
    ASSERT_TRUE(r.save_into(r.path));
    ASSERT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
    const auto listing = r.history.read();
    EXPECT_TRUE(listing.notes.empty());
    ASSERT_EQ(listing.records.size(), 1u);
    const job_record& rec = listing.records[0];
    EXPECT_EQ(rec.program, "test");
    EXPECT_EQ(rec.operation, "save memories to file");
    EXPECT_EQ(rec.outcome, "success");
    EXPECT_EQ(rec.status, "SAVE MEMORIES TO FILE COMPLETE");
    EXPECT_EQ(rec.file, r.path);
    EXPECT_EQ(rec.file_sha256, sha256_hex(r.memories()));
    EXPECT_EQ(rec.cpu, "M32R");
    EXPECT_EQ(rec.machine_version, r.memories().substr(0, 21));
    ASSERT_FALSE(rec.kept.empty());
    EXPECT_TRUE(read_file(rec.kept) == r.memories());
    EXPECT_EQ(path_from_utf8(rec.kept).parent_path(), r.history.units_folder());
    EXPECT_FALSE(r.writer_holds_memories());
#ifndef _WIN32
    EXPECT_EQ(mode_of(rec.kept), 0600u);
    EXPECT_EQ(mode_of(utf8_from_path(r.history.units_folder())), 0700u);
    EXPECT_EQ(mode_of(utf8_from_path(r.history.folder())), 0700u);
    EXPECT_EQ(mode_of(utf8_from_path(r.history.folder() / "history.jsonl")), 0600u);
#endif
    // A second save of the same unit is kept beside the first, which stays.
    const std::string first = rec.kept;
    r.sim.hold_sample_unit();
    ASSERT_TRUE(r.save_into(r.dir.file("again.dat")));
    const auto two = r.history.read().records;
    ASSERT_EQ(two.size(), 2u);
    EXPECT_NE(two[1].kept, first);
    EXPECT_TRUE(exists(first));
    EXPECT_TRUE(read_file(two[1].kept) == read_file(r.dir.file("again.dat")));
}

// A copy that cannot be kept, or a bench that keeps none, stops no save.
TEST(JobHistory, ASaveGoesOnWithoutItsKeptCopy) {
    const struct {
        const char* name;
        bool keep;
        bool units_blocked;  // a file stands where the units folder goes
        const char* note;    // in the end note; empty: nothing said
    } table[] = {
        {"kept copies off", false, false, ""},
        {"units folder taken", true, true, "no copy of the unit was kept in "},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        private_work_folder data;
        history_rig r(data.file("torvela"));
        r.history.keep_units = row.keep;
        if (row.units_blocked) {
            std::filesystem::create_directories(r.history.folder());
            write_file(utf8_from_path(r.history.units_folder()), "not a folder");
        }
        ASSERT_TRUE(r.save_into(r.path));
        EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
        EXPECT_TRUE(read_file(r.path) == r.memories());
        const auto records = r.history.read().records;
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].kept, "");
        if (*row.note) {
            EXPECT_NE(r.form->detail.find(row.note), std::string::npos) << r.form->detail;
            EXPECT_NE(r.form->detail.find(r.path + " holds it"), std::string::npos);
        } else {
            EXPECT_EQ(r.form->detail, "");
            EXPECT_FALSE(std::filesystem::exists(r.history.units_folder()));
        }
    }
}

TEST(JobHistory, KeptCopiesFollowTheEnvironment) {
    const struct {
        const char* value;  // nullptr: unset
        bool keep;
        bool refused;       // a save does not begin
    } table[] = {
        {nullptr, true, false}, {"", true, false},   {"on", true, false},  {"ON", true, false},
        {"off", false, false},  {"Off", false, false}, {"of", true, true}, {"0", true, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.value ? row.value : "(unset)");
#ifdef _WIN32
        _putenv_s("TORVELA_KEEP", row.value ? row.value : "");
        if (!row.value || !*row.value) continue;  // Windows cannot set an empty variable
#else
        if (row.value)
            setenv("TORVELA_KEEP", row.value, 1);
        else
            unsetenv("TORVELA_KEEP");
#endif
        const job_history h = job_history::for_user();
        EXPECT_EQ(h.keep_units, row.keep);
        EXPECT_EQ(!h.kept_setting_problem.empty(), row.refused);
        if (!row.refused) continue;
        // A setting the tool cannot read stops the save before anything is
        // sent: the writer keeps the unit, no file is made.
        private_work_folder data;
        history_rig r(data.file("torvela"));
        r.history.kept_setting_problem = h.kept_setting_problem;
        r.choose_path(r.path);
        ramdata_get_Click(*r.form);
        r.run_for(2'000'000);
        EXPECT_EQ(r.form->Label9.caption, "FILE OPEN ERROR");
        EXPECT_NE(r.form->detail.find("TORVELA_KEEP is \"" + std::string(row.value) + "\""), std::string::npos)
            << r.form->detail;
        EXPECT_TRUE(sent(r).empty());
        EXPECT_FALSE(exists(r.path));
        EXPECT_TRUE(r.writer_holds_memories());
    }
#ifdef _WIN32
    _putenv_s("TORVELA_KEEP", "");
#else
    unsetenv("TORVELA_KEEP");
    setenv("XDG_DATA_HOME", "/srv/bench/data", 1);
    EXPECT_EQ(job_history::user_folder(), "/srv/bench/data/torvela");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(job_history::user_folder(), std::filesystem::path(std::getenv("HOME")) / ".local/share/torvela");
    // No home at all: nothing is read or written in the current folder.
    const std::string home = std::getenv("HOME");
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    job_history nowhere = job_history::for_user();
    EXPECT_EQ(nowhere.folder(), "");
    std::string why;
    EXPECT_FALSE(nowhere.append({}, why));
    EXPECT_EQ(nowhere.keep_unit("unit", "V1", why).path, "");
    EXPECT_EQ(nowhere.read().notes.size(), 1u);
    setenv("HOME", home.c_str(), 1);
#endif
    EXPECT_TRUE(job_history::for_user().keep_units);
}

// A transmit the line drops partway: the record has the failure, the file
// sent, and what the writer holds now.
TEST(JobHistory, AFailedTransmitSaysWhatStands) {
    private_work_folder data;
    history_rig r(data.file("torvela"));
    r.choose(r.memories());
    r.clear_writer();
    r.sim.add_fault(line_drops("done:41", 40));
    ramdata_store_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    ASSERT_NE(r.form->last_outcome, outcome::success);
    const auto records = r.history.read().records;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].operation, "transmit memories");
    EXPECT_EQ(records[0].outcome, outcome_name(r.form->last_outcome));
    EXPECT_EQ(records[0].status, r.form->Label9.caption);
    EXPECT_EQ(records[0].detail, r.form->detail);
    EXPECT_NE(records[0].detail.find("the writer"), std::string::npos) << records[0].detail;
    EXPECT_EQ(records[0].file_sha256, sha256_hex(r.memories()));
    EXPECT_EQ(records[0].kept, "");
}

// Two saves at once into one history, and two programs appending as fast
// as they can: every record whole.
TEST(JobHistory, WritersAtOnceLeaveWholeRecords) {
    private_work_folder data;
    const std::string folder = data.file("torvela");
    history_rig first(folder, 7), second(folder, 8);
    first.choose_path(first.path);
    second.choose_path(second.path);
    ramdata_get_Click(*first.form);
    ASSERT_TRUE(first.run_until([&] { return first.form->job_phase == 11; }, 60'000'000));
    ramdata_get_Click(*second.form);
    ASSERT_TRUE(second.run_until([&] { return second.form->job_phase == 11; }, 60'000'000));
    ASSERT_TRUE(first.run_job());
    ASSERT_TRUE(second.run_job());
    auto listing = first.history.read();
    EXPECT_TRUE(listing.notes.empty());
    ASSERT_EQ(listing.records.size(), 2u);
    EXPECT_TRUE(read_file(listing.records[0].kept) == first.memories());
    EXPECT_TRUE(read_file(listing.records[1].kept) == second.memories());

    constexpr int each = 300;
    auto appender = [&](const char* program) {
        job_history h(path_from_utf8(folder));
        job_record r;
        r.program = program;
        r.detail = std::string(600, 'x');  // longer than a pipe's atomic write would need
        std::string why;
        for (int i = 0; i < each; ++i) {
            r.status = std::to_string(i);
            EXPECT_TRUE(h.append(r, why)) << why;
        }
    };
    std::thread a(appender, "a"), b(appender, "b");
    a.join();
    b.join();
    listing = first.history.read();
    EXPECT_TRUE(listing.notes.empty());
    EXPECT_EQ(listing.records.size(), 2u + 2 * each);
    int last_a = -1, last_b = -1;
    for (const job_record& r : listing.records) {
        if (r.program == "test") continue;
        int& last = r.program == "a" ? last_a : last_b;
        EXPECT_EQ(std::stoi(r.status), last + 1);  // in order, none lost
        last = std::stoi(r.status);
    }
}

// Damage and lines of other programs are skipped with a note; the records
// around them are read.
TEST(JobHistory, DamagedRecordsAreSkippedWithANote) {
    private_work_folder data;
    job_history h(path_from_utf8(data.file("torvela")));
    job_record r;
    r.operation = "erase all flash";
    std::string why;
    ASSERT_TRUE(h.append(r, why));
    const std::string good = record_line(r);
    const struct {
        const char* name;
        std::string line;
    } damage[] = {
        {"bytes", "\x01\xFF garbage\n"},
        {"foreign JSON", "{\"level\":\"info\",\"msg\":\"hello\"}\n"},
        {"a newer format", "{\"torvela_history\":2,\"operation\":\"x\"}\n"},
        {"nested", "{\"torvela_history\":1,\"operation\":{\"a\":1}}\n"},
        {"cut in a string", good.substr(0, 30) + "\n"},
    };
    std::string text = good;
    for (const auto& d : damage) text += d.line + good;
    text += good.substr(0, good.size() / 2);  // the last line cut short
    write_file(utf8_from_path(h.folder() / "history.jsonl"), text);
    const auto listing = h.read();
    EXPECT_EQ(listing.records.size(), std::size(damage) + 1);
    ASSERT_EQ(listing.notes.size(), std::size(damage) + 1);
    EXPECT_NE(listing.notes[1].find("line 4 skipped"), std::string::npos) << listing.notes[1];
    EXPECT_NE(listing.notes.back().find("cut short"), std::string::npos);
    EXPECT_EQ(h.last(100).records.size(), listing.records.size());
    // The next record after a line cut short is whole.
    ASSERT_TRUE(h.append(r, why));
    EXPECT_EQ(h.read().records.size(), std::size(damage) + 2);
}

// Past its size the history starts a new file; the one before stays to be
// read, the one before that goes.
TEST(JobHistory, GrowsOnlyToItsLimit) {
    private_work_folder data;
    job_history h(path_from_utf8(data.file("torvela")));
    h.rotate_bytes = 4096;
    job_record r;
    r.detail = std::string(200, 'd');
    std::string why;
    const std::size_t line = record_line(r).size() + 4;  // with the number in status
    const int total = static_cast<int>(4 * h.rotate_bytes / line);
    for (int i = 0; i < total; ++i) {
        r.status = std::to_string(i);
        ASSERT_TRUE(h.append(r, why)) << why;
    }
    const auto records = h.read().records;
    std::size_t kept = 0;
    for (const job_record& k : records) kept += record_line(k).size();
    EXPECT_LE(kept, 2 * h.rotate_bytes + line);
    EXPECT_GT(kept, h.rotate_bytes);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().status, std::to_string(total - 1));  // the newest stay, in order
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_EQ(std::stoi(records[i].status), std::stoi(records[i - 1].status) + 1);
    // The last records read from the end are the listing's last, across
    // the two files and however many are asked for.
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{6}, records.size() - 2, records.size() + 5}) {
        const auto last = h.last(n).records;
        ASSERT_EQ(last.size(), std::min(n, records.size())) << n;
        for (std::size_t i = 0; i < last.size(); ++i)
            EXPECT_EQ(last[i].status, records[records.size() - last.size() + i].status) << n;
    }
}

// Every operation is recorded once as it ends: a job, a step of its own on
// the open port, one that ended at once, one the closing window stopped.
TEST(JobHistory, EveryOperationIsRecordedOnce) {
    const struct {
        const char* name;
        void (*run)(history_rig&);
        const char* operation;
        const char* outcome;
    } table[] = {
        {"job", [](history_rig& r) { r.driver->event(r.form->allunlock_erase, control_event::click, 0); },
         "erase all flash", "success"},
        {"own step", [](history_rig& r) {
             open_port_prologue(*r.form);
             guarded(*r.form, write_count_Click);
         }, "writer write-count read", "success"},
        {"no port", [](history_rig& r) {
             r.port.present_ports.clear();
             r.driver->event(r.form->allunlock_erase, control_event::click, 0);
         }, "ERASE ALL FLASH", "no port"},
        {"failed in the press", [](history_rig& r) {
             open_port_prologue(*r.form);
             r.port.throw_at_send = 1;
             guarded(*r.form, rockbit_on_Click);
         }, "", "internal error"},
        {"window closed", [](history_rig& r) {
             r.driver->event(r.form->allunlock_erase, control_event::click, 0);
             r.run_for(700'000);
             r.driver->unload();
         }, "erase all flash", "interrupted"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        private_work_folder data;
        history_rig r(data.file("torvela"));
        row.run(r);
        r.run_job();
        r.run_for(2'000'000);
        const auto records = r.history.read().records;
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].operation, row.operation);
        EXPECT_EQ(records[0].outcome, row.outcome);
        EXPECT_EQ(records[0].status, r.form->Label9.caption);
        EXPECT_EQ(records[0].port, "COM1");
    }
}

// Each record names the file its operation used: the file the operator
// chose, for the memories jobs, the image jobs and a write or a verify on
// its own alike (never the tool's work file), none for the rest.
TEST(JobHistory, EachRecordNamesTheFileItsOperationUsed) {
    private_work_folder data;
    history_rig r(data.file("torvela"));
    const std::string chosen = r.dir.file("chosen.dat"), work = r.dir.file("image.txt");
    write_file(chosen, "the chosen file");
    write_file(work, "the work file");
    r.form->memory_file_path = chosen;
    r.form->image_file_path = work;
    const struct {
        const char* name;
        std::uint8_t job;
        const exchange* on_its_own;
        bool names_file;
    } table[] = {
        {"save", 4, nullptr, true},
        {"transmit memories", 6, nullptr, true},
        {"compare", 9, nullptr, true},
        {"transmit ROM data", 2, nullptr, true},
        {"target direct write", 5, nullptr, true},
        {"erase all", 7, nullptr, false},
        {"write", 0, &page_write_exchange, true},
        {"verify", 0, &verify_exchange, true},
        {"write counts", 0, &write_count_exchange, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        record_operation(*r.form, row.job, row.on_its_own ? row.on_its_own->steps[0].step : 0);
        const auto last = r.history.last(1).records;
        ASSERT_EQ(last.size(), 1u);
        EXPECT_EQ(last[0].file, row.names_file ? chosen : "");
        // Nothing was read: no digest is claimed.
        EXPECT_EQ(last[0].file_sha256, "");
    }
}

// The service view lists the last jobs: when it opens and after each job
// recorded, and reads the history at no other refresh.
TEST(JobHistory, TheServiceViewListsTheLastJobs) {
    private_work_folder data;
    history_rig r(data.file("torvela"));
    r.driver->set_service_view(true);
    const auto opened = r.driver->refresh(0);
    ASSERT_TRUE(opened.jobs);
    EXPECT_TRUE(opened.jobs->empty());
    EXPECT_FALSE(r.driver->refresh(1).jobs);
    for (std::size_t n = 1; n <= jobs_listed + 1; ++n) {
        r.driver->event(r.form->allunlock_erase, control_event::click, static_cast<std::int64_t>(r.line.now_us / 1000));
        ASSERT_TRUE(r.run_job());
        const auto now = static_cast<std::int64_t>(r.line.now_us / 1000);
        const auto listed = r.driver->refresh(now);
        ASSERT_TRUE(listed.jobs) << n;
        EXPECT_EQ(listed.jobs->size(), std::min(n, jobs_listed));
        EXPECT_NE(listed.jobs->back().find("  erase all flash  success"), std::string::npos) << listed.jobs->back();
        EXPECT_FALSE(r.driver->refresh(now + 1).jobs);
    }
    EXPECT_EQ(r.driver->kept_units_folder(), utf8_from_path(r.history.units_folder()));
}

namespace {

// A memories file with LF line ends instead of CR LF.
std::string with_lf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' && i >= 21)) out += text[i];
    return out;
}

std::string unit_of_file(const std::string& path) {
    std::string copy;
    return check_memories_file(path, copy) == memories_check::complete ? unit_sha256(copy) : std::string();
}

std::string resolved(const std::string& path) {
    return utf8_from_path(std::filesystem::canonical(path_from_utf8(path)));
}

}  // namespace

// Every record names the file the operator chose, as given and as the
// system resolves it, with the digest of the bytes the job read or wrote;
// the memories jobs name the unit, the same for every file that holds it.
TEST(JobHistory, RecordsNameTheChosenFileAndTheUnit) {
    private_work_folder data;
    history_rig r(data.file("torvela"));
    ASSERT_TRUE(r.save_into(r.path));
    const std::string unit = unit_of_file(r.path);
    ASSERT_FALSE(unit.empty());
    const std::string lf = r.dir.file("another name.dat");
    write_file(lf, with_lf(read_file(r.path)));
    ASSERT_NE(read_file(lf), read_file(r.path));
    const std::string image = r.rom_file(random_bytes(0x300, 5), "img", 0x4000);
    // The operations, one after the other on the same writer.
    const struct {
        const char* name;
        std::string file;
        void (*press)(main_form&);
        const char* status;
        bool names_unit;
    } table[] = {
        {"transmit memories of the LF copy", lf, ramdata_store_Click, "TRANSMIT MEMORIES COMPLETE", true},
        {"compare with the saved file", r.path, start_memories_compare, "COMPARE MEMORIES OK", true},
        {"transmit ROM data", image, flashall_write_Click, "ROM DATA TRANSMIT COMPLETE", false},
        {"verify the image", image, verify_Click, "VERIFY OK", false},
    };
    r.clear_writer();
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        r.choose_path(row.file);
        if (row.press == verify_Click) open_port_prologue(*r.form);
        guarded(*r.form, row.press);
        ASSERT_TRUE(r.run_job());
        r.run_for(1'000'000);
        ASSERT_EQ(r.form->Label9.caption, row.status) << r.form->detail;
        const auto last = r.history.last(1).records;
        ASSERT_EQ(last.size(), 1u);
        EXPECT_EQ(last[0].file, row.file);
        EXPECT_EQ(last[0].file_resolved, resolved(row.file));
        EXPECT_EQ(last[0].file_sha256, sha256_hex(read_file(row.file)));
        EXPECT_EQ(last[0].unit_sha256, row.names_unit ? unit : "");
    }
    // The save's record: the unit, its file and its kept copy agree.
    const auto records = r.history.read().records;
    ASSERT_GE(records.size(), 1u);
    const job_record& saved = records[0];
    EXPECT_EQ(saved.operation, "save memories to file");
    EXPECT_EQ(saved.unit_sha256, unit);
    EXPECT_EQ(saved.file_sha256, sha256_hex(read_file(r.path)));
    EXPECT_EQ(saved.file_resolved, resolved(r.path));
    EXPECT_EQ(unit_of_file(saved.kept), unit);
    EXPECT_EQ(unit_of_file(lf), unit);
    EXPECT_EQ(saved.kept_sha256, sha256_hex(read_file(saved.kept)));
    EXPECT_EQ(r.history.check_kept(saved), "");
    // What the writer told about itself, and the port, in a look's record.
    guarded(*r.form, start_writer_info);
    ASSERT_TRUE(r.run_job());
    r.run_for(1'000'000);
    const auto info = r.history.last(1).records;
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].write_counts, r.form->Label6.caption + "/" + r.form->Label7.caption);
    EXPECT_FALSE(info[0].write_counts.empty());
    EXPECT_EQ(info[0].device, r.form->MSComm1.device());
    EXPECT_EQ(info[0].cpu, "M32R");
}

// A kept copy is offered and sent only as its save kept it.
TEST(JobHistory, AKeptCopyIsCheckedBeforeItIsOfferedOrSent) {
    private_work_folder data;
    history_rig r(data.file("torvela"));
    ASSERT_TRUE(r.save_into(r.path));
    const job_record saved = r.history.read().records.at(0);
    std::string text = read_file(saved.kept);
    text[100] = text[100] == 'A' ? 'B' : 'A';  // one digit of page 0000
    write_file(saved.kept, text);
    EXPECT_EQ(r.history.check_kept(saved).rfind("damaged: its SHA-256 is ", 0), 0u) << r.history.check_kept(saved);
    r.clear_writer();
    r.choose_path(saved.kept);
    const std::size_t before = frames(r).size();
    ramdata_store_Click(*r.form);
    r.run_job();
    EXPECT_EQ(r.form->Label9.caption, "MEMORY FILE ERROR");
    EXPECT_NE(r.form->detail.find("it is a kept copy of a unit, and its SHA-256 is "), std::string::npos)
        << r.form->detail;
    EXPECT_EQ(frames(r).size(), before);  // nothing was sent
    EXPECT_TRUE(store_all(r.sim, 0x10000, 0x18000, 0xFF));
    std::filesystem::remove(path_from_utf8(saved.kept));
    EXPECT_EQ(r.history.check_kept(saved), "missing");
}

// A record or a kept copy that cannot be written changes neither the job's
// outcome nor its status; its end note says so, with the system's reason.
TEST(JobHistory, AJobWhoseRecordCannotBeWrittenSaysSo) {
    const struct {
        const char* name;
        void (*block)(const std::filesystem::path& folder);
        const char* reason;
        bool posix_user_only;
        bool keeps = false;  // the units folder is still usable
    } table[] = {
        {"a file where the folder goes", [](const std::filesystem::path& folder) { write_file(utf8_from_path(folder), "x"); },
         "is not a folder", false},
#ifndef _WIN32
        {"a data folder this user may not write",
         [](const std::filesystem::path& folder) { ::chmod(folder.parent_path().c_str(), 0500); }, "Permission denied",
         true},
        {"a FIFO as the history", [](const std::filesystem::path& folder) {
             std::filesystem::create_directories(folder);
             ::chmod(folder.c_str(), 0700);
             ::mkfifo((folder / "history.jsonl").c_str(), 0600);
         }, "is not a regular file", false, true},
#endif
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
#ifndef _WIN32
        if (row.posix_user_only && ::geteuid() == 0) continue;  // root writes anywhere
#endif
        private_work_folder data;
        const std::filesystem::path parent = path_from_utf8(data.file("data"));
        std::filesystem::create_directories(parent);
        history_rig r(utf8_from_path(parent / "torvela"));
        row.block(r.history.folder());
        r.driver->event(r.form->allunlock_erase, control_event::click, 0);
        ASSERT_TRUE(r.run_job());
        r.run_for(1'000'000);
        EXPECT_EQ(r.form->last_outcome, outcome::success);
        EXPECT_EQ(r.form->Label9.caption, "ALL FLASH ERASE COMPLETE");
        const std::string note = "this job was not recorded in the job history: ";
        EXPECT_NE(r.form->detail.find(note), std::string::npos) << r.form->detail;
        EXPECT_NE(r.form->detail.find(row.reason), std::string::npos) << r.form->detail;
        // A save: the unit is in the chosen file, and both are told.
        r.sim.hold_sample_unit();
        ASSERT_TRUE(r.save_into(r.path));
        EXPECT_EQ(r.form->Label9.caption, "SAVE MEMORIES TO FILE COMPLETE");
        EXPECT_EQ(r.form->detail.find("no copy of the unit was kept in ") != std::string::npos, !row.keeps)
            << r.form->detail;
        EXPECT_NE(r.form->detail.find(note), std::string::npos) << r.form->detail;
#ifndef _WIN32
        ::chmod(parent.c_str(), 0700);
#endif
    }
}

#ifndef _WIN32
// What the history reads, it trusts only as its writing does: a folder or
// file anyone else may have written, a link or a FIFO is refused at once
// with the reason, and nothing of it is listed or offered.
TEST(JobHistory, ReadingTrustsOnlyWhatWritingTrusts) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        void (*plant)(const fs::path& folder);
        const char* refusal;
        bool append_refused;
    } table[] = {
        {"the folder others may write", [](const fs::path& folder) { ::chmod(folder.c_str(), 0777); },
         "others may write to it (mode 0777)", true},
        {"the data folder others may write", [](const fs::path& folder) { ::chmod(folder.parent_path().c_str(), 0777); },
         "the data folder", true},
        {"the folder a link", [](const fs::path& folder) {
             fs::rename(folder, folder.string() + ".real");
             fs::create_directory_symlink(folder.string() + ".real", folder);
         }, "is a link", true},
        {"the history a link", [](const fs::path& folder) {
             fs::rename(folder / "history.jsonl", folder.parent_path() / "planted.jsonl");
             fs::create_symlink(folder.parent_path() / "planted.jsonl", folder / "history.jsonl");
         }, "is a link", true},
        {"the history others may write", [](const fs::path& folder) { ::chmod((folder / "history.jsonl").c_str(), 0666); },
         "others may write to it", true},
        {"the history a FIFO", [](const fs::path& folder) {
             fs::remove(folder / "history.jsonl");
             ::mkfifo((folder / "history.jsonl").c_str(), 0600);
         }, "is not a regular file", true},
        {"the older history a FIFO", [](const fs::path& folder) { ::mkfifo((folder / "history.1.jsonl").c_str(), 0600); },
         "history.1.jsonl is not a regular file", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        private_work_folder data;
        const fs::path parent = path_from_utf8(data.file("data"));
        fs::create_directories(parent);
        history_rig r(utf8_from_path(parent / "torvela"));
        ASSERT_TRUE(r.save_into(r.path));
        const job_record saved = r.history.read().records.at(0);
        row.plant(r.history.folder());
        // Answered at once, never waiting on a pipe.
        auto reading = std::async(std::launch::async, [&] { return r.history.read(); });
        if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the history waits on what it reads";
            for (const char* name : {"history.jsonl", "history.1.jsonl"})
                ::close(::open((r.history.folder() / name).c_str(), O_RDWR | O_NONBLOCK));
        }
        const auto listing = reading.get();
        EXPECT_TRUE(listing.records.empty());
        EXPECT_NE(listing.refused.find(row.refusal), std::string::npos) << listing.refused;
        const auto last = r.history.last(6);
        EXPECT_TRUE(last.records.empty());
        EXPECT_FALSE(last.refused.empty());
        r.driver->set_service_view(true);
        const auto shown = r.driver->refresh(0);
        ASSERT_TRUE(shown.jobs);
        ASSERT_EQ(shown.jobs->size(), 1u);
        EXPECT_EQ(shown.jobs->front().rfind("THE JOB HISTORY IS NOT READ: ", 0), 0u) << shown.jobs->front();
        std::string why;
        EXPECT_EQ(!r.history.append(saved, why), row.append_refused) << why;
        ::chmod(parent.c_str(), 0700);
    }
}

// A save killed while its kept copy is being written leaves no copy under
// a kept copy's name and nothing offered; the next start of the tool
// removes what it left, never a copy another save is still writing.
TEST(JobHistory, ASaveKilledDuringItsKeptCopyLeavesNoTornCopy) {
    namespace fs = std::filesystem;
    private_work_folder data;
    const std::string folder = data.file("torvela");
    history_rig r(folder);
    r.choose_path(r.path);
    ramdata_get_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->job_phase == 13 && r.form->engine_step == 0; }, 120'000'000));
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // Past 4 KB the system ends the process, halfway through the copy.
        const rlimit small{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &small);
        r.run_job();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    // The chosen file already held the unit when the copy began.
    EXPECT_TRUE(read_file(r.path) == r.memories());
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(r.history.units_folder())) names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind(".keep-", 0), 0u) << names[0];
    EXPECT_TRUE(r.history.read().records.empty());
    // Another save writing its copy right now keeps it.
    held_folder units;
    std::string why;
    ASSERT_TRUE(units.open(r.history.units_folder(), why));
    held_file busy;
    ASSERT_EQ(busy.create(units, ".keep-writing000000.tmp"), create_result::created);
    // The next start.
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    job_history::for_user();
    unsetenv("XDG_DATA_HOME");
    names.clear();
    for (const auto& e : fs::directory_iterator(r.history.units_folder())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{".keep-writing000000.tmp"});
}
#endif
