// Faults soaked by the thousand, in virtual time: cycles of SAVE MEMORIES TO
// FILE, ERASE ALL FLASH and TRANSMIT MEMORIES (and TRANSMIT ROM DATA every
// tenth cycle) against one simulated writer, each cycle with one fault at a
// random reply: silence, AC AC, a garbled byte, a reply just inside or just
// past the watchdog, the line lost. After every cycle the memories written
// at its start are whole in the writer, or in the saved file from which a
// transmit restores them byte for byte.
//
// TORVELA_SOAK_CYCLES and TORVELA_SOAK_SEED repeat a run; the seed of a
// failing cycle is printed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "erase/erase.hpp"
#include "memories/memories.hpp"
#include "rom_data/image_jobs.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault_kind;

namespace {

using area = std::array<std::uint8_t, 0x8000>;
constexpr std::uint32_t area_start = 0x10000;
// The watchdog's real time: 2933 ticks of 4 ms.
constexpr std::uint64_t watchdog_us = (watchdog_reload + 1) * 4000ull;

// A small ROM image at 000000, stored from 020000.
constexpr std::uint32_t image_size = 0x800;
std::uint8_t image_byte(std::uint32_t at) { return static_cast<std::uint8_t>(at * 5 + (at >> 8)); }

// A header without FF: a transmit cut short leaves the writer full.
const std::uint8_t version_page[21] = {'S', 'O', 'A', 'K', ' ', '1', 0, 'V', '1', '.', '0', ' ',
                                       'A', 0, 'L', 'I', 'N', 'E', ' ', '1', 0};
std::string memories_file(const area& a) { return memories_file_text(version_page, a.data()); }

struct soak {
    unit_rig r;
    private_work_folder& dir = r.dir;
    std::string image;
    std::string failure;  // the first broken promise of the cycle

    soak() {
        std::string bytes(image_size, '\0');
        for (std::uint32_t at = 0; at < image_size; ++at) bytes[at] = static_cast<char>(image_byte(at));
        image = r.rom_file(bytes, "image");
        // No exchange may stand still longer than the watchdog allows.
        r.after_event = [this, step = std::uint8_t{0}, since = std::uint64_t{0}](writer_sim::rig& rr) mutable {
            const std::uint8_t s = rr.form->engine_step;
            if (s != step || s == 0 || s == unwatched_step || !rr.port.PortOpen()) {
                step = s;
                since = rr.line.now_us;
            } else if (rr.line.now_us - since > watchdog_us + 8000 && failure.empty()) {
                failure = "step " + std::to_string(s) + " outlived the watchdog";
            }
        };
    }

    void expect(bool holds, const std::string& what) {
        if (!holds && failure.empty()) failure = what;
    }

    bool writer_holds(const area& a) const {
        return std::equal(a.begin(), a.end(), r.sim.store.begin() + area_start);
    }

    // The writer switched off and on: its flash stays, its state and fault
    // counts start again; a lost line is plugged back in.
    void power_cycle(const writer_sim::fault* f) {
        const auto store = r.sim.store;
        r.sim = writer_sim::writer();
        r.sim.store = store;
        if (f) r.sim.add_fault(*f);
        r.port.lost = false;
    }

    void choose(const std::string& path) { r.choose_path(path); }

    // Runs a job to its end; the status it ends with, "" when it did not end.
    std::string run(void (*click)(main_form&)) {
        click(*r.form);
        if (!r.run_job(200'000'000)) {
            expect(false, "a job did not end");
            return {};
        }
        const std::string& status = r.form->Label9.caption;
        const bool ok = status.size() > 8 && status.compare(status.size() - 8, 8, "COMPLETE") == 0;
        const bool error = status.size() > 5 && status.compare(status.size() - 5, 5, "ERROR") == 0;
        expect(ok || error, "a job ended with \"" + status + "\"");
        expect(!r.port.PortOpen(), "the port stayed open after \"" + status + "\"");
        expect(r.port.sends_on_closed_port == 0, "a frame went to a closed port");
        // Whatever the writer still had on its way dies on the closed line.
        r.run_for(watchdog_us + 1'000'000);
        return ok ? status : std::string();
    }

    // One cycle; `fault` strikes somewhere in it (or nowhere, to survey).
    void cycle(const area& m, const std::string& file, bool rom, const writer_sim::fault* fault) {
        std::fill_n(r.sim.store.begin(), 0x20000, 0xFF);
        r.sim.store[0] = 0x03;  // M32R
        r.sim.store[1] = 0x21;
        std::copy(std::begin(version_page), std::end(version_page), r.sim.store.begin() + 0xA00);
        std::copy(m.begin(), m.end(), r.sim.store.begin() + area_start);
        power_cycle(fault);

        choose(file);
        expect(r.form->ramdata_get.visible, "SAVE not offered for a new file");
        if (!run(ramdata_get_Click).empty()) {
            expect(read_file(file) == memories_file(m), "SAVE COMPLETE without the memories in the file");
            expect(std::all_of(r.sim.store.begin() + area_start, r.sim.store.begin() + area_start + 0x8000,
                               [](std::uint8_t b) { return b == 0xFF; }),
                   "SAVE COMPLETE with the memories left in the writer");
            if (!run(allunlock_erase_Click).empty())
                expect(std::all_of(r.sim.store.begin(), r.sim.store.end(), [](std::uint8_t b) { return b == 0xFF; }),
                       "ERASE COMPLETE with something left in the store");
            choose(file);
            if (!run(ramdata_store_Click).empty())
                expect(writer_holds(m), "TRANSMIT COMPLETE without the memories in the writer");
        }
        if (rom) {
            choose(image);
            if (!run(flashall_write_Click).empty())
                for (std::uint32_t at = 0; at < image_size; ++at)
                    expect(r.sim.store[0x20000 + at] == image_byte(at),
                           "ROM DATA TRANSMIT COMPLETE without the image in the store");
        }

        // The promise: the memories are in the writer, or in the file, from
        // which a transmit without a fault brings them back. A transmit cut
        // short leaves the version and CPU pages written, and the writer
        // then refuses another (FULL MEMORY ERROR) until blocks 0 and 1 are
        // erased, as a service engineer's block erase does.
        if (!writer_holds(m)) {
            expect(read_file(file) == memories_file(m), "the memories are neither in the writer nor in the file");
            power_cycle(nullptr);
            std::fill_n(r.sim.store.begin(), 0x20000, 0xFF);
            choose(file);
            const std::string back = run(ramdata_store_Click);
            expect(back == "TRANSMIT MEMORIES COMPLETE", "the saved file could not be sent back: " + r.form->Label9.caption);
            expect(writer_holds(m), "the saved file did not restore the memories");
        }
        for (const auto& e : std::filesystem::directory_iterator(path_from_utf8(dir.path()))) {
            const std::string name = e.path().filename().string();
            expect(name == "image.mot" || name == std::filesystem::path(file).filename().string(),
                   "left behind: " + name);
        }
        std::filesystem::remove(path_from_utf8(file));
    }
};

std::uint64_t env_number(const char* name, std::uint64_t otherwise) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoull(v, nullptr, 10) : otherwise;
}

}  // namespace

TEST(Soak, EveryFaultLeavesTheMemoriesSomewhere) {
    const std::uint64_t cycles = env_number("TORVELA_SOAK_CYCLES", TORVELA_SOAK_CYCLES);
    const std::uint64_t seed = env_number("TORVELA_SOAK_SEED", std::random_device{}());
    std::printf("soak: %llu cycles, TORVELA_SOAK_SEED=%llu\n", static_cast<unsigned long long>(cycles),
                static_cast<unsigned long long>(seed));
    soak s;

    // A cycle without a fault tells which replies a cycle has: every one of
    // them is a place a fault may strike.
    area m{};
    s.cycle(m, s.dir.file("survey.dat"), true, nullptr);
    ASSERT_EQ(s.failure, "");
    std::vector<std::pair<std::string, int>> replies;
    for (const auto& [tag, count] : s.r.sim.replies_seen())
        for (int n = 1; n <= count; ++n) replies.emplace_back(tag, n);

    const fault_kind kinds[] = {fault_kind::no_reply, fault_kind::ac_ac, fault_kind::corrupted_page,
                                fault_kind::late, fault_kind::late, fault_kind::drop_line};
    for (std::uint64_t c = 0; c < cycles; ++c) {
        std::mt19937_64 rng(seed + c);
        for (auto& b : m) b = static_cast<std::uint8_t>(rng());
        const auto& [tag, n] = replies[rng() % replies.size()];
        const std::size_t k = rng() % std::size(kinds);
        writer_sim::fault f{tag, n, kinds[k]};
        // Just inside the watchdog, or just past it.
        if (f.kind == fault_kind::late) f.delay_us = k == 3 ? watchdog_us - 400'000 : watchdog_us + 200'000;
        s.failure.clear();
        s.cycle(m, s.dir.file("unit" + std::to_string(c % 7) + ".dat"), rng() % 10 == 0, &f);
        if (!s.failure.empty()) {
            ADD_FAILURE() << "cycle " << c << " (TORVELA_SOAK_SEED=" << seed + c << " TORVELA_SOAK_CYCLES=1), fault "
                          << static_cast<int>(f.kind) << " at " << tag << " #" << n << ": " << s.failure;
            return;
        }
    }
    std::printf("soak: %llu cycles passed\n", static_cast<unsigned long long>(cycles));
}
