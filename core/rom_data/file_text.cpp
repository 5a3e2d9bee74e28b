#include "rom_data/memory_files.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"
#include "rom_data/file_text.hpp"

#include <cstdio>

namespace torvela {

namespace {

char hex_digit(int v) { return "0123456789ABCDEF"[v & 15]; }

int code(char c) { return static_cast<unsigned char>(c); }

// Characters i, i+1 of a line (0-based), missing ones read as "0".
char at(const std::string& s, std::size_t i) { return i < s.size() ? s[i] : '0'; }

}  // namespace

long numeric_value(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    long v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 1'000'000) v = v * 10 + (s[i++] - '0');
    return neg ? -v : v;
}

bool selected(const control& label) { return numeric_value(label.caption) == 1; }
bool unselected(const control& label) { return numeric_value(label.caption) == 0; }

std::uint8_t address_byte(const std::string& line, std::size_t i) {
    return static_cast<std::uint8_t>(address_digit(at(line, i)) * 16 + address_digit(at(line, i + 1)));
}

void skip_data_lines(main_form& f) {
    for (int k = 0; k < 4; ++k) f.files.read_line(1);
}

int data_digit(char c) { return code(c) > 58 ? code(c) - 55 : code(c) - 48; }
int address_digit(char c) { return code(c) >= 65 ? code(c) - 55 : code(c) - 48; }

std::string hex2(std::uint8_t b) { return {hex_digit(b >> 4), hex_digit(b)}; }

page_difference compare_pages(const page_bytes& file, const page_bytes& writer) {
    page_difference d;
    char r[40];  // two offsets of up to 16 digits
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == writer[i]) continue;
        std::size_t to = i;
        while (to + 1 < file.size() && file[to + 1] != writer[to + 1]) ++to;
        if (to == i)
            std::snprintf(r, sizeof r, "%02zX", i);
        else
            std::snprintf(r, sizeof r, "%02zX-%02zX", i, to);
        d.runs += (d.runs.empty() ? "" : ", ") + std::string(r);
        if (d.count == 0) d.first = static_cast<int>(i);
        for (; i <= to; ++i, ++d.count) {
            const char* gap = d.file.empty() ? "" : " ";
            d.file += gap + hex2(file[i]);
            d.writer += gap + hex2(writer[i]);
            d.bits += gap + hex2(static_cast<std::uint8_t>(file[i] ^ writer[i]));
        }
        i = to;
    }
    return d;
}

std::string difference_text(const page_difference& d, std::size_t shown) {
    auto first = [&](const std::string& pairs) {
        return pairs.size() <= shown * 3 ? pairs : pairs.substr(0, shown * 3 - 1) + " ...";
    };
    std::string text = std::to_string(d.count) + (d.count == 1 ? " byte differs (" : " bytes differ (") + d.runs +
                       "): the file has " + first(d.file) + ", the writer " + first(d.writer) + " (bits " +
                       first(d.bits) + ")";
    if (static_cast<std::size_t>(d.count) > shown) text += ", the first " + std::to_string(shown) + " shown";
    return text;
}

std::string address_line(std::uint32_t page_address) {
    std::string line(8, '0');
    for (int i = 7; i >= 0; --i, page_address >>= 4) line[static_cast<std::size_t>(i)] = hex_digit(static_cast<int>(page_address & 15));
    return line;
}

std::array<std::string, 4> page_lines(const page_bytes& page) {
    std::array<std::string, 4> lines;
    for (int k = 0; k < 4; ++k) {
        lines[k].reserve(128);
        for (int j = 0; j < 64; ++j) lines[k] += hex2(page[static_cast<std::size_t>(64 * k + j)]);
    }
    return lines;
}

page_bytes page_from_lines(const std::array<std::string, 4>& lines) {
    page_bytes page{};
    for (std::size_t k = 0; k < 4; ++k)
        for (std::size_t j = 0; j < 64; ++j)
            page[64 * k + j] = static_cast<std::uint8_t>(16 * data_digit(at(lines[k], 2 * j)) +
                                                         data_digit(at(lines[k], 2 * j + 1)));
    return page;
}

std::string header_line(const std::uint8_t* page) {
    std::string line;
    for (std::size_t i = 0; i < header_len; ++i) {
        const std::uint8_t b = page[i];
        line.push_back(b == 0 ? '/' : b == 32 ? '_' : static_cast<char>(b));
    }
    return line;
}

bool is_memories_header(std::string_view line) {
    return line.size() >= header_len && line[6] == '/' && line[13] == '/' && line[20] == '/';
}

}  // namespace torvela
