// The shortest time the protocol allows for a chain of exchanges: each frame
// takes its wire time at 57600 baud, the writer its own processing time, the
// tool can only read a reply on a 4 ms tick, and a job can only move to its
// next phase on a 500 ms tick. Nothing of the tool's own code is used here.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace bench {

inline constexpr double byte_us = 10.0 * 1e6 / 57600.0;
inline constexpr std::uint64_t tick1_us = 4'000;
inline constexpr std::uint64_t tick2_us = 500'000;

struct exchange {
    std::size_t sent;          // bytes the tool sends
    std::uint64_t writer_us;   // the writer's processing before it answers
    std::size_t answer;        // bytes of the answer
    bool phase_after = false;  // the next frame waits for the job sequencer
    int ticks_after = 0;       // engine ticks that must pass before the next frame
};

inline std::uint64_t next_tick(double t, std::uint64_t period) {
    const auto p = static_cast<double>(period);
    return static_cast<std::uint64_t>(std::ceil(t / p)) * period;
}

// Start: the time of the phase tick that sends the first frame. Returns the
// time of the phase tick that ends the job.
inline std::uint64_t ideal_end(std::uint64_t start, const std::vector<exchange>& chain) {
    std::uint64_t t = start;
    for (const exchange& e : chain) {
        const double arrival = static_cast<double>(t) + static_cast<double>(e.sent + e.answer) * byte_us +
                               static_cast<double>(e.writer_us);
        t = next_tick(arrival, tick1_us) + static_cast<std::uint64_t>(e.ticks_after) * tick1_us;
        if (e.phase_after) t = next_tick(static_cast<double>(t), tick2_us);
    }
    return t;
}

}  // namespace bench
