#include "rom_data/memory_files.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"
#include "rom_data/file_text.hpp"

namespace torvela {

std::optional<std::uint8_t> image_page_filter(const main_form& f, std::uint8_t b1, std::uint8_t b2) {
    const std::string& cpu = f.Label2.caption;
    if (f.block_filter_on == 0) {
        // The writer program switch: pages go untranslated, and only to the
        // writer's program memory (command byte 0). A page write or read of
        // the store (2 or 3) finds no page.
        if (f.address_frame[0] == 0) return b1;
        return std::nullopt;
    }
    if (f.pass_flag == 0) {
        if (b1 == 0 && b2 < 32) return b1;
        return std::nullopt;
    }
    const cpu_family* family = flash_family(cpu);
    if (f.pass_flag != 1 || !family) return std::nullopt;
    const auto page = static_cast<std::uint16_t>(b1 << 8 | b2);
    const int i = family->block_of_page(page);
    if (i < 0 || unselected(f.fblock(i))) return std::nullopt;
    return static_cast<std::uint8_t>(family->store_page(page) >> 8);
}

void next_image_page(main_form& f) {
    if (f.files.eof(1)) return;
    for (;;) {
        const std::string line = f.files.read_line(1);
        const std::uint8_t b1 = address_byte(line, 2);
        const std::uint8_t b2 = address_byte(line, 4);
        f.address_frame[1] = b1;
        f.address_frame[2] = b2;
        f.address_frame[3] = 0;
        if (const auto to = image_page_filter(f, b1, b2)) {
            f.address_frame[1] = *to;
            return;
        }
        skip_data_lines(f);
        if (f.files.eof(1)) return;
    }
}

namespace {

// Calls `page(b1, b2)` with the address bytes of every page of a work file,
// until it returns false; false when the file cannot be read.
template <typename Visit>
bool each_work_page(const std::string& path, Visit page) {
    std::string text;
    if (read_small_file(path_from_utf8(path), std::size_t{64} << 20, text) != small_file::read) return false;
    bool ended = false;
    line_reader lines{text};
    for (int line = 0; !lines.done(); ++line) {
        const std::string address(lines.next(ended));
        if (line % 5 == 0 && !page(address_byte(address, 2), address_byte(address, 4))) break;
    }
    return true;
}

}  // namespace

int count_image_pages(const main_form& f, const std::string& path) {
    int pages = 0;
    each_work_page(path, [&](std::uint8_t b1, std::uint8_t b2) {
        if (image_page_filter(f, b1, b2)) ++pages;
        return true;
    });
    return pages;
}

bool image_fits_store(const main_form& f) {
    const cpu_family* family = flash_family(f.Label2.caption);
    if (!family) return true;
    bool fits = true;
    const bool read = each_work_page(f.image_file_path, [&](std::uint8_t b1, std::uint8_t b2) {
        fits = family->block_of_page(static_cast<std::uint16_t>(b1 << 8 | b2)) >= 0;
        return fits;
    });
    return read && fits;
}

void next_memories_page(main_form& f) {
    std::string s = f.files.read_line(1, f.files.lines_read(1) == 0 ? header_len : 0);
    for (;;) {
        f.Label2.caption = s;
        if (family_called(s)) {
            f.address_frame[1] = f.address_frame[2] = f.address_frame[3] = 0;
            f.pass_flag = 1;
            return;
        }
        f.first_line_bytes = s;
        if (s.size() >= 7 && s[6] == '/') {
            f.address_frame[1] = 0;
            f.address_frame[2] = protocol::version_page.mid;
            f.address_frame[3] = 0;
            f.pass_flag = 1;
            return;
        }
        if (s.size() < 8 || s[7] != '0') return;
        f.address_frame[1] = address_byte(s, 2);
        f.address_frame[2] = address_byte(s, 4);
        if (f.address_frame[1] == 0 && f.address_frame[2] < 0x80) {
            f.address_frame[1] = 1;
            f.address_frame[3] = 0;
            f.pass_flag = 0;
            return;
        }
        skip_data_lines(f);
        if (f.files.eof(1)) return;
        s = f.files.read_line(1);
    }
}

page_bytes read_page_block(main_form& f) {
    std::array<std::string, 4> lines;
    for (auto& l : lines) l = f.files.read_line(1);
    return page_from_lines(lines);
}

page_bytes special_memories_page(const main_form& f) {
    page_bytes page;
    page.fill(protocol::empty_byte);
    if (const cpu_family* family = family_called(f.Label2.caption)) {
        page[0] = family->code[0];
        page[1] = family->code[1];
    } else {
        for (std::size_t i = 0; i < header_len && i < f.first_line_bytes.size(); ++i) {
            const char c = f.first_line_bytes[i];
            page[i] = c == '/' ? 0 : c == '_' ? 32 : static_cast<std::uint8_t>(c);
        }
    }
    return page;
}

page_bytes memories_page_block(main_form& f) {
    return f.pass_flag == 1 ? special_memories_page(f) : read_page_block(f);
}

void send_page_data(main_form& f) {
    const page_bytes page = read_page_block(f);
    send_bytes(f, page);
}

void send_memories_page_data(main_form& f) {
    const page_bytes page = memories_page_block(f);
    send_bytes(f, page);
}

}  // namespace torvela
