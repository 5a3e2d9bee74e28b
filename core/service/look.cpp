#include "service/look.hpp"

#include <algorithm>
#include <cstdio>
#include <span>

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "engine/writer_id.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "link/trace.hpp"
#include "memories/memories.hpp"
#include "rom_data/memory_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"
#include "rom_data/file_text.hpp"
#include "service/write_count.hpp"

namespace torvela {

namespace {

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
    page_done(f);
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

// The CPU or header line of a file against the writer's.
main_form::writer_look::difference line_difference(const char* where, const std::string& file, const std::string& writer) {
    main_form::writer_look::difference d;
    d.where = where;
    d.file = file;
    d.writer = writer;
    return d;
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

namespace {

// The CPU type and machine version pages, then the whole memories area.
void read_cpu_version_and_memories(main_form& f) {
    f.look.to_read = {address_of(protocol::cpu_page), address_of(protocol::version_page)};
    for (std::uint8_t p = 0; p < memories_pages; ++p)
        f.look.to_read.push_back({protocol::memories_first.high, static_cast<std::uint8_t>(protocol::memories_first.mid + p)});
}

// The unit the look read, its digest noted, and the jobs of this bench
// that left it in a file.
void recognise_unit(main_form& f) {
    auto& look = f.look;
    std::array<page_bytes, memories_pages> held{};
    std::copy(look.pages.begin() + 2, look.pages.begin() + 2 + memories_pages, held.begin());
    const std::string digest = unit_sha256(held);
    f.found.unit_sha256 = look.unit_sha256 = digest;
    if (!f.history) return;
    const job_history::listing listing = f.history->read();
    if (!listing.refused.empty()) {
        look.unit_note = "the job history is not read (" + listing.refused + "), so the unit is not looked up";
        return;
    }
    // A job that ended well with a file holds the unit in it: a save or
    // backup wrote it, a transmit or compare found it there.
    for (auto r = listing.records.rbegin(); r != listing.records.rend(); ++r) {
        if (r->unit_sha256 != digest || r->outcome != outcome_name(outcome::success)) continue;
        if (r->file.empty() && r->kept.empty()) continue;
        look.unit_seen.push_back({r->time, r->operation, r->file, f.history->check_kept(*r).empty() ? r->kept : ""});
    }
    if (look.unit_seen.empty())
        look.unit_note = "no job recorded on this bench holds this unit in a file: back it up before it is changed";
}

}  // namespace

void start_writer_info(main_form& f) {
    if (!begin_look(f, 8)) return;
    read_cpu_version_and_memories(f);
}

void start_memories_compare(main_form& f) {
    if (f.memory_file_path.empty() || !begin_look(f, 9)) return;
    read_cpu_version_and_memories(f);
}

namespace {

// The S-record file of a ROM image read back: S2 records of 32 bytes at the
// image's own addresses, pages that hold only FF left out, between an S0
// header and the S8 end record. What transmit-rom makes of it is the store
// it was read from.
std::string srecord_line(char type, std::uint32_t address, std::span<const std::uint8_t> data) {
    std::string line = std::string("S") + type;
    const std::uint8_t head[] = {static_cast<std::uint8_t>(data.size() + 4), static_cast<std::uint8_t>(address >> 16),
                                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    unsigned sum = 0;
    for (const std::uint8_t b : head) line += hex2(b), sum += b;
    for (const std::uint8_t b : data) line += hex2(b), sum += b;
    return line + hex2(static_cast<std::uint8_t>(~sum)) + "\r\n";
}

}  // namespace

std::string rom_image_text(const cpu_family& family, const std::vector<page_address>& store_pages,
                           const std::vector<page_bytes>& pages, int& written) {
    std::string text = "S0030000FC\r\n";
    written = 0;
    for (std::size_t i = 0; i < pages.size() && i < store_pages.size(); ++i) {
        const page_bytes& page = pages[i];
        if (std::all_of(page.begin(), page.end(), [](std::uint8_t b) { return b == protocol::empty_byte; })) continue;
        ++written;
        const auto store = static_cast<std::uint16_t>(store_pages[i][0] << 8 | store_pages[i][1]);
        const std::uint32_t base = static_cast<std::uint32_t>(family.image_page(store)) << 8;
        for (std::size_t at = 0; at < page.size(); at += 32)
            text += srecord_line('2', base + static_cast<std::uint32_t>(at), std::span(page).subspan(at, 32));
    }
    return text + "S804000000FB\r\n";
}

// The blocks of the chosen map whose boxes are ticked, their store pages in
// image order.
std::vector<page_address> rom_pages_to_read(const main_form& f, const cpu_family& family) {
    std::vector<page_address> pages;
    for (int box = 1; box <= 9; ++box) {
        if (f.check(box).value != 1 || !label_of_box(family, box).is_block()) continue;
        const cpu_family::page_range r = family.block_pages[static_cast<std::size_t>(box - 1)];
        for (unsigned p = r.first; p <= r.last; ++p) {
            const std::uint16_t store = family.store_page(static_cast<std::uint16_t>(p));
            pages.push_back({static_cast<std::uint8_t>(store >> 8), static_cast<std::uint8_t>(store)});
        }
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

void start_rom_read(main_form& f) {
    if (f.memory_file_path.empty() || f.engine_step != 0 || f.job_no != 0) return;
    const cpu_family* family = id_family(f);
    const std::vector<page_address> pages = family ? rom_pages_to_read(f, *family) : std::vector<page_address>{};
    if (pages.empty()) {
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        f.detail = std::string("nothing was sent: ") +
                   (family ? "no block of the " + std::string(family->name) + " map is ticked"
                           : "no block map is chosen (M32R or M16C)") +
                   ", so no page of the ROM image would be read";
        return;
    }
    // The file is made beside the chosen one now, and replaces it only
    // once every page is read.
    if (!f.save.begin(f.memory_file_path)) {
        report(f, outcome::file_problem, "FILE OPEN ERROR");
        f.detail = "nothing was sent: " + f.memory_file_path + " cannot be written, " + f.save.problem() +
                   "; choose a file in a folder you may write to";
        return;
    }
    if (!begin_look(f, 11)) {
        f.save.discard();
        return;
    }
    f.look.to_read = pages;
}

void job11_phase99(main_form& f) {
    f.Label9.caption = "START TO READ ROM DATA";
    start_writer_id_check(f);
}

void job11_phase21(main_form& f) {
    const cpu_family& family = *id_family(f);
    int written = 0;
    const std::string text = rom_image_text(family, f.look.to_read, f.look.pages, written);
    std::FILE* out = f.save.open_new_file(true);
    const bool whole = out && std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    if (out) std::fclose(out);
    if (!whole || !f.save.commit(text)) {
        // A read that could not replace the file is kept beside it.
        f.detail = f.memory_file_path + " was not written: " +
                   (whole ? f.save.problem() : std::string("the new file beside it could not be written")) +
                   (f.save.kept_copy().empty() ? "" : "; the image read is in " + f.save.kept_copy()) +
                   "; the writer was only read: nothing was erased or written on it";
        end_job(f, {outcome::file_problem, "FILE SAVE ERROR", indicator::all, port_after::closed});
        return;
    }
    f.found.file_resolved = f.save.written();
    f.found.file_sha256 = sha256_hex(text);
    f.detail = std::to_string(written) + " of the " + std::to_string(f.look.to_read.size()) + " pages of the " +
               family.name + " image area held data and are in " + f.memory_file_path +
               (written == 0 ? " (the image area is blank: the file holds no data record)" : "");
    end_job(f, {outcome::success, "READ ROM DATA COMPLETE", indicator::all, port_after::closed});
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
    if (look.holds_memories) recognise_unit(f);
    end_job(f, {outcome::success, "WRITER INFORMATION COMPLETE", indicator::all, port_after::closed});
}

void job9_phase21(main_form& f) {
    auto& look = f.look;
    const memories_image file = memories_image_of(look.file_copy);
    look.file_copy.clear();
    const std::string cpu = cpu_of(look.pages[0]);
    if (cpu != file.cpu) look.differences.push_back(line_difference("CPU", file.cpu, cpu));
    const std::string header = blank_word(look.pages[1]) ? "(blank)" : header_line(look.pages[1].data());
    f.found.cpu = cpu;
    f.found.version = header;
    if (header != file.header) look.differences.push_back(line_difference("header", file.header, header));
    // The unit the job read is the writer's.
    recognise_unit(f);
    int pages_differing = 0, bytes_differing = 0;
    for (std::size_t p = 0; p < memories_pages; ++p) {
        const page_difference d = compare_pages(file.pages[p], look.pages[p + 2]);
        if (d.count == 0) continue;
        ++pages_differing;
        bytes_differing += d.count;
        const auto at = static_cast<std::size_t>(d.first);
        look.differences.push_back({page_address_line(p), d.first, hex2(file.pages[p][at]), hex2(look.pages[p + 2][at]),
                                    d.count, d.runs, d.file, d.writer, d.bits, difference_text(d)});
    }
    if (look.differences.empty()) {
        end_job(f, {outcome::success, "COMPARE MEMORIES OK", indicator::all, port_after::closed});
        return;
    }
    f.detail = std::to_string(bytes_differing) + (bytes_differing == 1 ? " byte" : " bytes") + " in " +
               std::to_string(pages_differing) + " of " + std::to_string(memories_pages) + " memories pages differ" +
               (look.differences.size() > static_cast<std::size_t>(pages_differing) ? " (and the CPU or header line)"
                                                                                   : "") +
               " between " + f.memory_file_path + " and the writer on " + port_named(f) +
               (blank_word(look.pages[1]) ? ", whose memories area is blank" : "") + "; nothing was written or erased";
    end_job(f, {outcome::different, "COMPARE MEMORIES DIFFERENT", indicator::all, port_after::closed});
}

}  // namespace torvela
