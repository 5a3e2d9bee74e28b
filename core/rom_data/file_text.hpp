// What the readers and writers of the memories file and the work files
// share: the text of a page, lines of a file held in memory, the flags the
// labels hold, the address bytes of a page's address line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/main_form.hpp"

namespace torvela {

inline constexpr std::size_t page_text = 512;  // four data lines of 128 digits

// Lines of a memories file held in memory; a line may end in CR LF or LF.
struct line_reader {
    std::string_view text;
    std::size_t at = 0;
    bool done() const { return at >= text.size(); }
    // The next line; `ended` says whether its line ending was there.
    std::string_view next(bool& ended) {
        const std::size_t lf = text.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(at, end - at);
        ended = lf != std::string_view::npos;
        at = ended ? lf + 1 : text.size();
        if (ended && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }
};

// The numeric value of a caption, as far as it reads as a number.
long numeric_value(const std::string& s);
bool selected(const control& label);
bool unselected(const control& label);
// The byte of address digits i, i+1 (0-based) of a line; missing ones read as "0".
std::uint8_t address_byte(const std::string& line, std::size_t i);
// Past the four data lines of the page whose address line was just read.
void skip_data_lines(main_form& f);
// The family whose ID code layout the ROM image jobs use: the one chosen
// for the image (cpu_is_m32r, cpu_is_m16c), or null.
inline const cpu_family* id_family(const main_form& f) {
    return f.cpu_is_m32r == 1 ? &m32r_family : f.cpu_is_m16c == 1 ? &m16c_family : nullptr;
}

}  // namespace torvela
