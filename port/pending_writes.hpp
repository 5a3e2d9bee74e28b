// Bytes written to a serial device that it has not taken yet. The caller
// (the window's thread, the engine's tick) never waits for room: what the
// device does not take now goes on the following calls, and a device that
// takes nothing for a second is lost. One queue for every platform; each
// platform says only what its device takes now.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace torvela {

class pending_writes {
public:
    // Milliseconds on a steady clock.
    using clock = std::function<std::int64_t()>;
    // Writes what the device takes now of `bytes`, without waiting: the
    // count taken (0: none now), or -1 with the platform's reason in `why`.
    using write_now = std::function<long(std::span<const std::uint8_t> bytes, std::string& why)>;
    static constexpr std::int64_t stall_limit_ms = 1000;

    explicit pending_writes(clock now);
    // `bytes` (none: only what still waits) after those still waiting, then
    // as much as the device takes: false when the device is lost (`why`
    // says why).
    bool send(std::span<const std::uint8_t> bytes, const write_now& write, std::string& why);
    std::size_t waiting() const { return bytes_.size(); }
    void clear();

private:
    clock now_;
    std::vector<std::uint8_t> bytes_;
    std::int64_t stalled_since_ms_ = -1;
};

// The steady clock in milliseconds, for a real device.
std::int64_t steady_ms();

}  // namespace torvela
