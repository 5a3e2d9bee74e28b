#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"

namespace torvela {

namespace {

constexpr phase_entry version_up_phases[] = {
    {99, job1_phase99}, {12, job1_phase12}, {4, job1_phase4}, {7, job1_phase7}, {3, job1_phase3},
    {1, job1_phase1},   {9, job1_phase9},   {6, job1_phase6}, {5, job1_phase5}, {8, job1_phase8},
};

constexpr phase_entry transmit_rom_phases[] = {
    {99, job2_phase99},     {12, job2_phase12},    {3, image_job_phase3},
    {1, image_job_phase1},  {9, image_job_phase9}, {8, job2_phase8},
};

constexpr phase_entry block_write_phases[] = {
    {99, job3_phase99},     {12, job3_phase12},    {3, image_job_phase3},
    {1, image_job_phase1},  {9, image_job_phase9}, {8, job3_phase8},
};

constexpr phase_entry target_direct_phases[] = {
    {99, job5_phase99},    {12, job5_phase12}, {3, image_job_phase3},
    {1, image_job_phase1}, {9, job5_phase9},   {10, job5_phase10}, {8, job5_phase8},
};

constexpr phase_entry save_memories_phases[] = {
    {99, job4_phase99}, {12, job4_phase12}, {16, job4_phase16}, {14, job4_phase14},
    {15, job4_phase15}, {11, job4_phase11}, {13, job4_phase13}, {3, job4_phase3},
};

constexpr phase_entry backup_memories_phases[] = {
    {99, job10_phase99}, {12, job4_phase12}, {16, job4_phase16}, {14, job4_phase14},
    {15, job4_phase15},  {11, job4_phase11}, {13, job10_phase13},
};

constexpr phase_entry transmit_memories_phases[] = {
    {99, job6_phase99}, {12, job6_phase12}, {16, job6_phase16}, {17, job6_phase17},
    {14, job6_phase14}, {3, job6_phase3},   {1, job6_phase1},   {13, job6_phase13},
    {15, job6_phase15},
};

constexpr phase_entry erase_all_phases[] = {
    {99, job7_phase99},
    {12, job7_phase12},
    {2, job7_phase2},
};

constexpr phase_entry writer_info_phases[] = {{99, job8_phase99}, {12, look_phase12}, {21, job8_phase21}};
constexpr phase_entry memories_compare_phases[] = {{99, job9_phase99}, {12, look_phase12}, {21, job9_phase21}};
constexpr phase_entry rom_read_phases[] = {{99, job11_phase99}, {12, look_phase12}, {21, job11_phase21}};

// One row per job; each row lists the phases the job handles.
constexpr job_entry jobs[] = {
    {1, "writer version up", file_used::rom_data, version_up_phases},
    {2, "transmit ROM data", file_used::rom_data, transmit_rom_phases},
    {3, "writer block write", file_used::rom_data, block_write_phases},
    {4, "save memories to file", file_used::memories, save_memories_phases},
    {5, "target direct write", file_used::rom_data, target_direct_phases},
    {6, "transmit memories", file_used::memories, transmit_memories_phases},
    {7, "erase all flash", file_used::none, erase_all_phases},
    // Beyond the window's buttons: looks that send only reads.
    {8, "writer information", file_used::none, writer_info_phases},
    {9, "compare memories", file_used::memories, memories_compare_phases},
    {10, "backup memories to file", file_used::memories, backup_memories_phases},
    {11, "read ROM data", file_used::rom_data, rom_read_phases},
};

// The job table's row for `job_no`; null for no job.
const job_entry* find_job(std::uint8_t job_no) {
    const auto row = std::find_if(std::begin(jobs), std::end(jobs), [&](const job_entry& j) { return j.job_no == job_no; });
    return row == std::end(jobs) ? nullptr : row;
}

}  // namespace

const char* job_name(std::uint8_t job_no) {
    const job_entry* job = find_job(job_no);
    return job ? job->name : "";
}

file_used job_file(std::uint8_t job_no) {
    const job_entry* job = find_job(job_no);
    return job ? job->file : file_used::none;
}

void sequencer_tick(main_form& f);

void Timer2_Timer(main_form& f) {
    guarded(f, sequencer_tick);
}

void sequencer_tick(main_form& f) {
    if (f.job_no != 0 && !f.MSComm1.PortOpen()) {
        // Disconnected or lost between (or during) exchanges: nothing may be
        // sent on a closed port, so the job ends here.
        abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file1::close);
        return;
    }
    if (f.engine_step != 0) return;
    if (f.job_no != 0 && f.job_phase == 99 && !line_quiet(f)) {
        f.first_phase_waits = true;
        return;
    }
    run_job_phase(f);
}

bool line_quiet(const main_form& f) {
    return f.quiet_ticks >= quiet_line_ticks || f.quiet_waited >= quiet_line_bound_ticks;
}

void run_job_phase(main_form& f) {
    f.first_phase_waits = false;
    const job_entry* job = find_job(f.job_no);
    if (!job) return;
    for (const phase_entry& p : job->phases) {
        if (p.phase == f.job_phase) {
            p.action(f);
            return;
        }
    }
}

}  // namespace torvela
