// Runs the jobs in virtual time against the simulated writer and prints how
// long they take next to the shortest time the protocol allows, and the CPU
// the timers cost while the window sits idle.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "harness.hpp"
#include "ideal.hpp"
#include "memories/memories.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/seq_files.hpp"

namespace {

using chain = std::vector<bench::exchange>;

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

int worst = 0;  // set when a ratio is out of bounds

void report(const char* job, const writer_sim::rig& r, std::uint64_t start_us, std::uint64_t ideal_us,
            double real_s, int pages = 0) {
    const std::uint64_t actual = r.line.now_us - start_us;
    const double ratio = static_cast<double>(actual) / static_cast<double>(ideal_us);
    std::printf("%-28s %-32s virtual %8.3f s  minimum %8.3f s  ratio %.3f  real %6.1f ms", job,
                r.form->Label9.caption.c_str(), static_cast<double>(actual) * 1e-6,
                static_cast<double>(ideal_us) * 1e-6, ratio, real_s * 1e3);
    if (pages) std::printf("  %.1f pages/s", pages / (static_cast<double>(actual) * 1e-6));
    std::printf("\n");
    if (ratio > 1.05 || ratio < 1.0) worst = 1;
}

// The exchanges every job begins with.
void writer_id(chain& c, const writer_sim::writer& w) {
    c.push_back({2, w.echo_delay_us, 2});
    c.push_back({11, w.echo_delay_us, 2, true});
}

// FF FF, echo; address, D0 D0; address again, the page.
void page_read(chain& c, const writer_sim::writer& w, bool phase_after, int ticks_after = 0) {
    c.push_back({2, w.echo_delay_us, 2});
    c.push_back({4, w.echo_delay_us, 2});
    c.push_back({4, w.page_read_delay_us, 256, phase_after, ticks_after});
}

// The block erase starts on the engine tick after its phase; a tick after
// each block it looks for the next.
void block_erase(chain& c, const writer_sim::writer& w, int blocks) {
    c.push_back({0, 0, 0, false, 1});
    for (int b = 0; b < blocks; ++b) {
        c.push_back({2, w.echo_delay_us, 2});
        c.push_back({4, w.block_erase_delay_us, 2, b == blocks - 1, 1});
    }
}

void erase_all() {
    writer_sim::rig r;
    const double c0 = cpu_seconds();
    torvela::allunlock_erase_Click(*r.form);
    r.run_job();
    const double c1 = cpu_seconds();
    chain c;
    writer_id(c, r.sim);
    c.push_back({2, r.sim.echo_delay_us, 2});
    c.push_back({2, r.sim.erase_all_delay_us, 2, true});
    report("erase all flash (job 7)", r, 0, bench::ideal_end(bench::tick2_us, c), c1 - c0);
}

void memories_jobs() {
    torvela::private_work_folder dir;
    writer_sim::rig r;
    std::mt19937 rng(1);
    for (std::size_t a = 0x10000; a < 0x18000; ++a) r.sim.store[a] = static_cast<std::uint8_t>(rng());
    const std::uint8_t version[21] = {'V', '1', 0, 0, 0, 0, 0, 'A', 0, 0, 0, 0, 0, 0, 'B', 0, 0, 0, 0, 0, 0};
    std::copy(std::begin(version), std::end(version), r.sim.store.begin() + 0xA00);
    r.sim.store[0] = 0x03;
    r.sim.store[1] = 0x21;
    const std::string path = dir.file("unit.dat");
    if (std::FILE* fp = std::fopen(path.c_str(), "w")) std::fclose(fp);
    r.dlg.files.push_back(path);
    torvela::file_select_Click(*r.form);

    // Save: a job starts on the next sequencer tick after the click.
    std::uint64_t start = r.line.now_us;
    double c0 = cpu_seconds();
    torvela::ramdata_get_Click(*r.form);
    r.run_job();
    double c1 = cpu_seconds();
    chain save;
    writer_id(save, r.sim);
    page_read(save, r.sim, true);  // installer mode
    page_read(save, r.sim, true);  // machine version
    page_read(save, r.sim, true);  // CPU type
    for (int p = 0; p < 128; ++p) page_read(save, r.sim, p == 127, 1);
    for (int p = 0; p < 130; ++p) page_read(save, r.sim, p == 129, p == 129 ? 0 : 1);
    block_erase(save, r.sim, 2);
    report("save memories (job 4)", r, start,
           bench::ideal_end(bench::next_tick(static_cast<double>(start) + 1, bench::tick2_us), save) - start,
           c1 - c0, 258);

    // Transmit back into the cleared store.
    std::fill_n(r.sim.store.begin(), 0x20000, std::uint8_t{0xFF});
    r.dlg.files.push_back(path);
    torvela::file_select_Click(*r.form);
    start = r.line.now_us;
    c0 = cpu_seconds();
    torvela::ramdata_store_Click(*r.form);
    r.run_job();
    c1 = cpu_seconds();
    chain tx;
    writer_id(tx, r.sim);
    page_read(tx, r.sim, true);  // installer mode
    page_read(tx, r.sim, true);  // machine version check
    block_erase(tx, r.sim, 2);
    for (int p = 0; p < 130; ++p) {
        tx.push_back({2, r.sim.echo_delay_us, 2});
        tx.push_back({4 + 256, r.sim.page_write_delay_us, 2, p == 129});
    }
    for (int p = 0; p < 130; ++p) page_read(tx, r.sim, p == 129, p == 129 ? 0 : 1);
    tx.push_back({2, r.sim.echo_delay_us, 2});
    tx.push_back({2, r.sim.confirm_delay_us, 2, true});
    report("transmit memories (job 6)", r, start,
           bench::ideal_end(bench::next_tick(static_cast<double>(start) + 1, bench::tick2_us), tx) - start,
           c1 - c0, 260);
}

// An S2 record line.
std::string s2(std::uint32_t address, const std::uint8_t* data, std::size_t n) {
    static const char* d = "0123456789ABCDEF";
    std::string line = "S2";
    unsigned sum = 0;
    auto put = [&](std::uint8_t b) {
        sum += b;
        line.push_back(d[b >> 4]);
        line.push_back(d[b & 15]);
    };
    put(static_cast<std::uint8_t>(n + 4));
    put(static_cast<std::uint8_t>(address >> 16));
    put(static_cast<std::uint8_t>(address >> 8));
    put(static_cast<std::uint8_t>(address));
    for (std::size_t i = 0; i < n; ++i) put(data[i]);
    put(static_cast<std::uint8_t>(~sum));
    return line + "\r\n";
}

void transmit_rom_data() {
    torvela::private_work_folder dir;
    writer_sim::rig r;
    std::vector<std::uint8_t> image(0x60000);
    std::mt19937 rng(2);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    std::string text;
    for (std::size_t a = 0; a < image.size(); a += 32) text += s2(static_cast<std::uint32_t>(a), image.data() + a, 32);
    text += "S804000000FB\r\n";  // the end record: a file without is refused as cut short
    const std::string path = dir.file("image.mot");
    if (std::FILE* fp = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), fp);
        std::fclose(fp);
    }
    r.dlg.files.push_back(path);
    torvela::file_select_Click(*r.form);
    const std::uint64_t start = r.line.now_us;
    const double c0 = cpu_seconds();
    torvela::flashall_write_Click(*r.form);
    r.run_job(3'600'000'000);
    const double c1 = cpu_seconds();
    const auto& w = r.sim;
    chain c;
    writer_id(c, w);
    block_erase(c, w, 6);
    auto write_pass = [&](int pages) {
        for (int p = 0; p < pages; ++p) {
            c.push_back({2, w.echo_delay_us, 2});
            c.push_back({4 + 256, w.page_write_delay_us, 2, p == pages - 1});
        }
    };
    auto verify_pass = [&](int pages) {
        for (int p = 0; p < pages; ++p) page_read(c, w, p == pages - 1, p == pages - 1 ? 0 : 1);
    };
    write_pass(3);     // control pages 0000, 0500, 0600
    verify_pass(3);
    write_pass(1536);  // the image
    verify_pass(1536);
    c.push_back({0, 0, 0, true, 1});  // phase 9 hands over to phase 8
    report("transmit ROM data (job 2)", r, start,
           bench::ideal_end(bench::next_tick(static_cast<double>(start) + 1, bench::tick2_us), c) - start, c1 - c0,
           2 * (3 + 1536));
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
    memories_jobs();
    transmit_rom_data();
    idle_window();
    if (worst) std::printf("a job took more than 1.05 times the protocol minimum\n");
    return worst;
}
