#include "pending_writes.hpp"

#include <algorithm>
#include <chrono>

namespace torvela {

pending_writes::pending_writes(clock now) : now_(std::move(now)) {}

bool pending_writes::send(std::span<const std::uint8_t> bytes, const write_now& write, std::string& why) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    while (!bytes_.empty()) {
        const long n = write(bytes_, why);
        if (n < 0) return false;
        if (n == 0) {
            const std::int64_t at = now_();
            if (stalled_since_ms_ < 0) stalled_since_ms_ = at;
            if (at - stalled_since_ms_ < stall_limit_ms) return true;
            why = "the device takes no more bytes";
            return false;
        }
        bytes_.erase(bytes_.begin(), bytes_.begin() + std::min<long>(n, static_cast<long>(bytes_.size())));
        stalled_since_ms_ = -1;
    }
    stalled_since_ms_ = -1;
    return true;
}

void pending_writes::clear() {
    bytes_.clear();
    stalled_since_ms_ = -1;
}

std::int64_t steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace torvela
