// Runs the jobs in virtual time against the simulated writer and prints how
// long they take next to the shortest time the protocol allows, and the CPU
// the timers cost while the window sits idle.
#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <string>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "harness.hpp"
#include "ideal.hpp"

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void report(const char* job, std::uint64_t actual_us, std::uint64_t ideal_us, double real_s) {
    std::printf("%-24s virtual %9.3f s   minimum %9.3f s   ratio %.3f   real %.1f ms\n", job,
                static_cast<double>(actual_us) * 1e-6, static_cast<double>(ideal_us) * 1e-6,
                static_cast<double>(actual_us) / static_cast<double>(ideal_us), real_s * 1e3);
}

void erase_all() {
    writer_sim::rig r;
    const double c0 = cpu_seconds();
    torvela::allunlock_erase_Click(*r.form);
    r.run_job();
    const double c1 = cpu_seconds();
    const auto& w = r.sim;
    const std::vector<bench::exchange> chain = {
        {2, w.echo_delay_us, 2},                          // F5 F5, echo
        {11, w.echo_delay_us, 2, true},                   // ID frame, verdict
        {2, w.echo_delay_us, 2},                          // A7 A7, echo
        {2, w.erase_all_delay_us, 2, true},               // go-ahead, erased
    };
    report("erase all flash (job 7)", r.line.now_us, bench::ideal_end(bench::tick2_us, chain), c1 - c0);
}

void idle_window() {
    writer_sim::rig r;
    constexpr std::uint64_t seconds = 600;
    const double c0 = cpu_seconds();
    r.run_for(seconds * 1'000'000);
    const double c1 = cpu_seconds();
    std::printf("idle window, port closed: %.4f ms CPU per second (%.0f virtual s)\n",
                (c1 - c0) * 1e3 / seconds, static_cast<double>(seconds));
}

}  // namespace

int main() {
    erase_all();
    idle_window();
    return 0;
}
