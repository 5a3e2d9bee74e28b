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
