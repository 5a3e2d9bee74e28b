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

namespace {

// The UTF-8 text of a text box as code points.
std::vector<char32_t> code_points(const std::string& s) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
        if (i + static_cast<std::size_t>(len) > s.size()) len = 1;
        char32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(cp);
        i += static_cast<std::size_t>(len);
    }
    return out;
}

}  // namespace

bool build_control_file(main_form& f) {
    f.pass_flag = 0;
    std::vector<std::string> pages(32, std::string(page_text, 'F'));
    auto put = [&](int page, std::size_t byte, std::uint8_t v) {
        if (byte < 256) pages[static_cast<std::size_t>(page)].replace(2 * byte, 2, hex2(v));
    };
    const std::string& cpu = f.Label2.caption;
    const cpu_family* family = family_named(cpu);
    if (family && !family_called(cpu)) {
        put(0, 0, family->code[0]);
        put(0, 1, family->code[1]);
    }
    if (f.block_write_mode == 1) {
        put(1, 0, 0x00);
        put(1, 1, 0x01);
        std::size_t at_byte = 2;
        auto entry = [&](cpu_family::page_range b) {
            put(1, at_byte++, static_cast<std::uint8_t>(b.first >> 8));
            put(1, at_byte++, static_cast<std::uint8_t>(b.first));
            put(1, at_byte++, static_cast<std::uint8_t>(b.last >> 8));
            put(1, at_byte++, static_cast<std::uint8_t>(b.last));
        };
        if (const cpu_family* flash = flash_family(cpu))
            for (int i = 0; i < flash->blocks; ++i)
                if (selected(f.fblock(i))) entry(flash->block_pages[static_cast<std::size_t>(i)]);
    }
    auto id_text = [&](std::size_t count, std::size_t checked) {
        std::string text(f.id_code_text.begin(), f.id_code_text.begin() + static_cast<std::ptrdiff_t>(count));
        if (f.privious_id_match.value != 1) return text;
        const std::vector<char32_t> typed = code_points(f.ID.caption);
        for (std::size_t i = 0; i < checked && i < typed.size(); ++i)
            if (typed[i] > 0xFF) return text;  // a wide character: the image's code whole
        for (std::size_t i = 0; i < count && i < typed.size(); ++i) {
            const char32_t c = typed[i];
            if ((c >= 42 && c <= 57) || (c >= 65 && c <= 70)) text[i] = static_cast<char>(c);
        }
        return text;
    };
    if (const cpu_family* id = id_family(f)) {
        const std::string descriptor = id->id_head + id_text(id->id_digits, id->id_typed);
        pages[5].replace(0, descriptor.size(), descriptor);
    }
    put(6, 0, static_cast<std::uint8_t>(f.write_count_limit & 0xFF));
    if (!f.files.open_output(1, f.control_file_path)) return false;
    for (std::size_t p = 0; p < 32; ++p) {
        if (pages[p] == std::string(page_text, 'F')) continue;
        f.files.print_line(1, page_address_line(p));
        for (std::size_t k = 0; k < 4; ++k) f.files.print_line(1, pages[p].substr(128 * k, 128));
    }
    return f.files.close(1);
}

}  // namespace torvela
