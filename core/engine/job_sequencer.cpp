#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"

namespace torvela {

namespace {

constexpr phase_entry erase_all_phases[] = {
    {99, job7_phase99},
    {12, job7_phase12},
    {2, job7_phase2},
};

// One row per job; each row lists the phases the job handles.
constexpr job_entry jobs[] = {
    {7, "erase all flash", erase_all_phases},
};

}  // namespace

std::span<const job_entry> job_table() { return jobs; }

void Timer2_Timer(main_form& f) {
    if (f.job_no != 0 && !f.MSComm1.PortOpen()) {
        // Disconnected or lost between (or during) exchanges: nothing may be
        // sent on a closed port, so the job ends here.
        abort_sequence(f, "COMMUNICATION ERROR", true);
        return;
    }
    if (f.engine_step != 0) return;
    const auto job = std::find_if(std::begin(jobs), std::end(jobs),
                                  [&](const job_entry& j) { return j.job_no == f.job_no; });
    if (f.job_no == 0 || job == std::end(jobs)) return;
    for (const phase_entry& p : job->phases) {
        if (p.phase == f.job_phase) {
            p.action(f);
            return;
        }
    }
}

}  // namespace torvela
