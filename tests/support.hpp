// Shared helpers of the test suites.
#pragma once

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files.hpp"
#include "harness.hpp"
#include "rom_data/memory_files.hpp"

namespace test_support {

using bytes = std::vector<std::uint8_t>;

// All bytes the tool put on the line, in order.
inline bytes sent(const writer_sim::rig& r) {
    bytes all;
    for (const auto& rec : r.line.log)
        if (rec.to_writer) all.insert(all.end(), rec.bytes.begin(), rec.bytes.end());
    return all;
}

// The frames the tool sent, one per Output call.
inline std::vector<bytes> frames(const writer_sim::rig& r) {
    std::vector<bytes> out;
    for (const auto& rec : r.line.log)
        if (rec.to_writer) out.push_back(rec.bytes);
    return out;
}

// The n-th reply TAG as a fault of each kind.
inline writer_sim::fault silent(const char* tag, int n = 1) { return {tag, n, writer_sim::fault_kind::no_reply}; }
inline writer_sim::fault refused(const char* tag, int n = 1) { return {tag, n, writer_sim::fault_kind::ac_ac}; }
inline writer_sim::fault garbled(const char* tag, int n = 1) { return {tag, n, writer_sim::fault_kind::wrong_echo}; }
inline writer_sim::fault corrupted(const char* tag, int n = 1) { return {tag, n, writer_sim::fault_kind::corrupted_page}; }
inline writer_sim::fault line_drops(const char* tag, int n = 1) { return {tag, n, writer_sim::fault_kind::drop_line}; }
inline writer_sim::fault late(const char* tag, std::uint64_t us) { return {tag, 1, writer_sim::fault_kind::late, {}, us}; }

// Page PAGE's n-th reply with `head` for its first bytes, FF after.
inline writer_sim::fault page_reply(const char* page, std::vector<std::uint8_t> head, int occurrence = 1) {
    head.resize(256, 0xFF);
    return {std::string("page:") + page, occurrence, writer_sim::fault_kind::replace, std::move(head)};
}

// The writer's bytes from `at` are `data` (held as text, as the files hold it).
inline bool bytes_at(const std::string& data, const std::uint8_t* at) {
    return std::equal(data.begin(), data.end(), at, [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
}
inline bool store_equals(const writer_sim::writer& w, std::uint32_t at, const std::string& data) {
    return bytes_at(data, w.store.data() + at);
}
// Every byte of the store from `from` up to `to` is `v`.
inline bool store_all(const writer_sim::writer& w, std::size_t from, std::size_t to, std::uint8_t v) {
    return std::all_of(w.store.begin() + static_cast<std::ptrdiff_t>(from),
                       w.store.begin() + static_cast<std::ptrdiff_t>(to), [v](std::uint8_t b) { return b == v; });
}

inline bool busy_pictures_reset(const torvela::main_form& f) {
    if (f.Timer3.enabled || !f.Image1.visible) return false;
    const torvela::control* const hidden[] = {&f.Image2,  &f.Image3,  &f.Image4,  &f.Image5,
                                              &f.Image6,  &f.Image7,  &f.Image8,  &f.Image9,
                                              &f.Image12, &f.Image13, &f.Image14, &f.Image15,
                                              &f.Image16};
    for (const auto* c : hidden)
        if (c->visible) return false;
    return true;
}

inline std::string random_bytes(std::size_t size, unsigned seed) {
    std::string b(size, '\0');
    std::mt19937 rng(seed);
    for (char& c : b) c = static_cast<char>(rng());
    return b;
}

// The machine version page of the unit: every byte the header may carry,
// with the separators at 6, 13 and 20 ('/' and '_' come back as 00 and 20).
inline constexpr std::uint8_t version_bytes[21] = {0x41, 0x20, 0x2C, 0x22, 0x0D, 0x0A, 0x00,
                                                   0x80, 0x9F, 0xC3, 0xFF, 0xE3, 0x0D, 0x00,
                                                   0x0A, 0x31, 0xFE, 0x7F, 0x01, 0x5B, 0x00};

// A writer holding an M32R unit's memories (random, one page of FF), its
// machine version page and CPU code, and a private folder for the files the
// operator chooses.
struct unit_rig : writer_sim::rig {
    torvela::private_work_folder dir;
    std::string path = dir.file("unit.dat");
    std::array<std::uint8_t, 0x8000> area{};

    explicit unit_rig(unsigned seed = 7) {
        std::mt19937 rng(seed);
        for (auto& b : area) b = static_cast<std::uint8_t>(rng());
        std::fill_n(area.begin() + 0x300, 256, 0xFF);
        std::copy(area.begin(), area.end(), sim.store.begin() + 0x10000);
        std::copy(std::begin(version_bytes), std::end(version_bytes), sim.store.begin() + 0xA00);
        sim.store[0] = 0x03;
        sim.store[1] = 0x21;
    }
    // SELECT FILE on `file`.
    void choose_path(const std::string& file) {
        dlg.files.push_back(file);
        torvela::file_select_Click(*form);
    }
    // SELECT FILE on the unit's file, holding `content`.
    void choose(const std::string& content) {
        write_file(path, content);
        choose_path(path);
    }
    // The memories file a save of this unit writes.
    std::string memories() const { return memories_file_text(version_bytes, area.data()); }
    bool writer_holds_memories() const {
        return std::equal(area.begin(), area.end(), sim.store.begin() + 0x10000);
    }
    // The writer after its memories were taken out: nothing in block 0 and 1.
    void clear_writer() { std::fill_n(sim.store.begin(), 0x20000, 0xFF); }
    // A ROM data file NAME.mot of `data` at `base`, S2 records of 32 bytes.
    std::string rom_file(const std::string& data, const std::string& name, std::uint32_t base = 0) {
        std::string text = "S0030000FC\r\n";
        for (std::size_t at = 0; at < data.size(); at += 32) {
            const std::size_t end = std::min(at + 32, data.size());
            text += s2_record(base + static_cast<std::uint32_t>(at),
                              std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at),
                                                        data.begin() + static_cast<std::ptrdiff_t>(end))) +
                    "\r\n";
        }
        write_file(dir.file(name + ".mot"), text + "S804000000FB\r\n");
        return dir.file(name + ".mot");
    }
    std::size_t files_in_folder() const {
        return static_cast<std::size_t>(std::distance(
            std::filesystem::directory_iterator(torvela::path_from_utf8(dir.path())), {}));
    }
};

}  // namespace test_support
