#include "memories/memories_reading.hpp"

#include <cstdio>

namespace torvela {

std::string hex_row(const page_bytes& page, std::size_t at) {
    std::string row(2, ' ');
    char b[8];
    std::snprintf(b, sizeof b, "%02zX ", at);
    row += b;
    for (std::size_t i = at; i < at + 16; ++i) {
        std::snprintf(b, sizeof b, " %02X", page[i]);
        row += b;
    }
    row += "  |";
    for (std::size_t i = at; i < at + 16; ++i) row += page[i] >= 0x20 && page[i] < 0x7F ? static_cast<char>(page[i]) : '.';
    return row + "|";
}

std::string page_digits(const page_bytes& page) {
    std::string out;
    for (const std::string& line : page_lines(page)) out += line;
    return out;
}

std::string page_runs(const std::vector<std::uint32_t>& pages) {
    auto hex6 = [](std::uint32_t v) {
        char b[12];
        std::snprintf(b, sizeof b, "%06X", v);
        return std::string(b);
    };
    std::string out;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 0x100) ++j;
        out += (out.empty() ? "" : ", ") + hex6(pages[i]) + (j > i ? "-" + hex6(pages[j]) : "");
        i = j + 1;
    }
    return out.empty() ? "none" : out;
}

}  // namespace torvela
