// The queue of bytes a serial device has not taken yet, in virtual time: a
// device that takes all, some, nothing for a while, nothing for a second,
// or fails. The bytes arrive whole and in order; the caller never waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pending_writes.hpp"

using namespace torvela;

namespace {

// A device that takes, call after call, the counts of `takes` (-1: fails).
struct scripted_device {
    std::vector<long> takes;
    std::size_t call = 0;
    std::vector<std::uint8_t> got;
    long operator()(std::span<const std::uint8_t> bytes, std::string& why) {
        const long n = call < takes.size() ? takes[call] : 0;
        ++call;
        if (n < 0) {
            why = "device failed";
            return -1;
        }
        const long taken = std::min<long>(n, static_cast<long>(bytes.size()));
        got.insert(got.end(), bytes.begin(), bytes.begin() + taken);
        return taken;
    }
};

std::vector<std::uint8_t> bytes_of(std::size_t n, std::uint8_t first) {
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

}  // namespace

// Each step: at `at_ms`, send `add` new bytes (0: what waits only); the
// device then takes as its script says. `ok` is what the queue returns,
// `waiting` what stays.
struct step {
    std::int64_t at_ms;
    std::size_t add;
    bool ok;
    std::size_t waiting;
};
struct queue_case {
    const char* what;
    std::vector<long> takes;
    std::vector<step> steps;
    const char* why;  // the reason once lost, else ""
};

TEST(PendingWrites, TheDeviceTakesWhatItCanAndIsLostAfterASecondOfNothing) {
    const std::vector<queue_case> cases = {
        {"takes all at once", {260}, {{0, 260, true, 0}}, ""},
        {"takes it in pieces in one call", {100, 100, 60}, {{0, 260, true, 0}}, ""},
        {"takes some, then nothing: the rest waits", {100, 0, 160}, {{0, 260, true, 160}, {4, 0, true, 0}}, ""},
        {"nothing for 999 ms is not yet lost",
         {0, 0, 260},
         {{0, 260, true, 260}, {999, 0, true, 260}, {1000, 0, true, 0}},
         ""},
        {"nothing for a second is lost", {0, 0}, {{0, 260, true, 260}, {1000, 0, false, 260}}, "the device takes no more bytes"},
        {"bytes taken start the second again",
         {0, 10, 0, 0, 0},
         {{0, 260, true, 260}, {900, 0, true, 250}, {1899, 0, true, 250}, {1900, 0, false, 250}},
         "the device takes no more bytes"},
        {"new bytes queue behind those waiting", {100, 0, 500}, {{0, 260, true, 160}, {4, 260, true, 0}}, ""},
        {"a failing device is lost with its reason", {-1}, {{0, 260, false, 260}}, "device failed"},
    };
    for (const queue_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::int64_t now = 0;
        pending_writes queue([&] { return now; });
        scripted_device device;
        device.takes = c.takes;
        const pending_writes::write_now write = [&](std::span<const std::uint8_t> b, std::string& why) {
            return device(b, why);
        };
        std::vector<std::uint8_t> sent;
        std::string why;
        bool ok = true;
        for (const step& s : c.steps) {
            now = s.at_ms;
            const std::vector<std::uint8_t> add = bytes_of(s.add, static_cast<std::uint8_t>(sent.size()));
            sent.insert(sent.end(), add.begin(), add.end());
            ok = queue.send(add, write, why);
            EXPECT_EQ(ok, s.ok) << "at " << s.at_ms << " ms";
            EXPECT_EQ(queue.waiting(), s.waiting) << "at " << s.at_ms << " ms";
        }
        EXPECT_EQ(ok ? std::string() : why, c.why);
        // What the device took is what was sent, in order, less what waits.
        ASSERT_EQ(device.got.size() + queue.waiting(), sent.size());
        EXPECT_TRUE(std::equal(device.got.begin(), device.got.end(), sent.begin()));
        queue.clear();
        EXPECT_EQ(queue.waiting(), 0u);
    }
}
