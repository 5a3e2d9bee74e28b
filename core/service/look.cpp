#include "service/look.hpp"

#include <algorithm>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "engine/writer_id.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "link/trace.hpp"
#include "memories/memories.hpp"
#include "rom_data/memory_files.hpp"
#include "service/write_count.hpp"

namespace torvela {

namespace {

using page_address = std::array<std::uint8_t, 2>;
constexpr page_address address_of(protocol::page_address p) { return {p.high, p.mid}; }

bool begin_look(main_form& f, std::uint8_t job) {
    if (f.engine_step != 0 || f.job_no != 0) return false;
    f.look = {};
    if (!open_port_with_busy_indicator(f)) return false;
    begin_job(f, job);
    return true;
}

void ask_next_page(main_form& f) {
    const page_address& at = f.look.to_read[f.look.pages.size()];
    f.address_frame = {protocol::address_read, at[0], at[1], 0};
    start_exchange(f, look_read_exchange);
}

void look_page_read(main_form& f) {
    auto& page = f.look.pages.emplace_back();
    std::copy_n(f.rx_bytes.begin(), page.size(), page.begin());
    if (f.job_no == 9) page_done(f);
    if (f.look.pages.size() < f.look.to_read.size()) {
        ask_next_page(f);
        return;
    }
    f.Label9.caption = "READ OK!";
    exchange_done(f);
}

bool blank_word(const std::array<std::uint8_t, 256>& page) {
    return page[0] == protocol::empty_byte || page[1] == protocol::empty_byte;
}

std::string cpu_of(const std::array<std::uint8_t, 256>& page) {
    const cpu_family* family = family_of_code(page[0], page[1]);
    if (family) return family->name;
    return hex(std::span(page).first(2)) + (page[0] == protocol::empty_byte ? " (blank)" : " (unknown)");
}

// FF FF, its echo, the address frame; D0 D0, the frame again; the page.
enum look_row : std::uint8_t { look_echo = 221, look_address = 224, look_page = 222 };
constexpr exchange_step look_read_steps[] = {
    {.step = look_echo, .wait = awaits::echo, .code = protocol::page_read, .status = "READ NOW!",
     .then = sends::address_frame, .next = look_address},
    {.step = look_address, .wait = awaits::verdict, .status = "READ NOW!", .then = sends::address_frame, .next = look_page},
    {.step = look_page, .wait = awaits::bytes, .count = page_len, .body = look_page_read},
};

}  // namespace

const exchange look_read_exchange = {"page read of a look at the writer", protocol::page_read, look_read_steps, 21};

void start_writer_info(main_form& f) {
    if (!begin_look(f, 8)) return;
    f.look.to_read = {address_of(protocol::cpu_page), address_of(protocol::version_page),
                      address_of(protocol::memories_first)};
}

void start_memories_compare(main_form& f) {
    if (f.memory_file_path.empty() || !begin_look(f, 9)) return;
    f.look.to_read = {address_of(protocol::cpu_page), address_of(protocol::version_page)};
    for (std::uint8_t p = 0; p < memories_pages; ++p)
        f.look.to_read.push_back({protocol::memories_first.high, static_cast<std::uint8_t>(protocol::memories_first.mid + p)});
}

void job8_phase99(main_form& f) {
    f.Label9.caption = "START TO READ WRITER INFORMATION";
    start_writer_id_check(f);
}

// Nothing is read from the writer before the file is known to be a whole
// memories file, as TRANSMIT MEMORIES checks it.
void job9_phase99(main_form& f) {
    f.Label9.caption = "START TO COMPARE MEMORIES";
    const memories_check checked = check_chosen_memories_file(f, f.look.file_copy, "nothing was read");
    if (checked != memories_check::complete) {
        abort_sequence(f, outcome::file_problem, memories_check_status(checked), file1::close);
        return;
    }
    start_writer_id_check(f);
}

// After the writer-ID check: the write counts (job 8), then the pages.
void look_phase12(main_form& f) {
    if (f.job_no == 8 && !f.look.counts_read) {
        f.look.counts_read = true;
        start_write_count_read(f);
        return;
    }
    // Every page read is counted (the CPU type and machine version pages
    // too), and the job ends on the sequencer tick after the last.
    if (f.job_no == 9)
        start_progress(f, static_cast<int>(f.look.to_read.size()), main_form::page_progress::kind::read, {}, 0);
    ask_next_page(f);
}

void job8_phase21(main_form& f) {
    auto& look = f.look;
    look.cpu = cpu_of(look.pages[0]);
    look.version = blank_word(look.pages[1]) ? "(blank)" : header_line(look.pages[1].data());
    f.found.cpu = look.cpu;
    f.found.version = look.version;
    // As TRANSMIT MEMORIES judges it: a machine version and a first memories
    // page that are not blank.
    look.holds_memories = !blank_word(look.pages[1]) && !blank_word(look.pages[2]);
    end_job(f, {outcome::success, "WRITER INFORMATION COMPLETE", indicator::all, port_after::closed});
}

void job9_phase21(main_form& f) {
    auto& look = f.look;
    const memories_image file = memories_image_of(look.file_copy);
    look.file_copy.clear();
    const std::string cpu = cpu_of(look.pages[0]);
    if (cpu != file.cpu) look.differences.push_back({"CPU", -1, file.cpu, cpu});
    const std::string header = blank_word(look.pages[1]) ? "(blank)" : header_line(look.pages[1].data());
    f.found.cpu = cpu;
    f.found.version = header;
    if (header != file.header) look.differences.push_back({"header", -1, file.header, header});
    // The unit the job read is the writer's.
    std::array<page_bytes, memories_pages> held{};
    std::copy(look.pages.begin() + 2, look.pages.begin() + 2 + memories_pages, held.begin());
    f.found.unit_sha256 = unit_sha256(held);
    int pages_differing = 0;
    for (std::size_t p = 0; p < memories_pages; ++p) {
        const auto& mine = look.pages[p + 2];
        const auto& theirs = file.pages[p];
        const auto at = std::mismatch(theirs.begin(), theirs.end(), mine.begin());
        if (at.first == theirs.end()) continue;
        ++pages_differing;
        look.differences.push_back({page_address_line(p),
                                    static_cast<int>(at.first - theirs.begin()), hex2(*at.first),
                                    hex2(*at.second)});
    }
    if (look.differences.empty()) {
        end_job(f, {outcome::success, "COMPARE MEMORIES OK", indicator::all, port_after::closed});
        return;
    }
    f.detail = std::to_string(pages_differing) + " of " + std::to_string(memories_pages) + " memories pages differ" +
               (look.differences.size() > static_cast<std::size_t>(pages_differing) ? " (and the CPU or header line)"
                                                                                   : "") +
               " between " + f.memory_file_path + " and the writer on " + port_named(f) +
               (blank_word(look.pages[1]) ? ", whose memories area is blank" : "") + "; nothing was written or erased";
    end_job(f, {outcome::different, "COMPARE MEMORIES DIFFERENT", indicator::all, port_after::closed});
}

}  // namespace torvela
