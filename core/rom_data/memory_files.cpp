#include "rom_data/memory_files.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {

constexpr std::size_t page_text = 512;  // four data lines of 128 digits
const std::string all_f_line(128, 'F');

char hex_digit(int v) { return "0123456789ABCDEF"[v & 15]; }

int code(char c) { return static_cast<unsigned char>(c); }

// The numeric value of a caption, as far as it reads as a number.
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

// Characters i, i+1 of a line (0-based), missing ones read as "0".
char at(const std::string& s, std::size_t i) { return i < s.size() ? s[i] : '0'; }

std::uint8_t address_byte(const std::string& line, std::size_t i) {
    return static_cast<std::uint8_t>(address_digit(at(line, i)) * 16 + address_digit(at(line, i + 1)));
}

void skip_data_lines(main_form& f) {
    for (int k = 0; k < 4; ++k) f.files.read_line(1);
}

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

void file_select_Click(main_form& f) {
    // File 1 belongs to a running transfer; a new choice waits for its end.
    if (f.job_no != 0 || f.engine_step != 0) return;
    f.memory_file_path = f.dialog.open_file(memory_file_filter);
    f.Label10.caption = f.memory_file_path;
    f.cpu_is_m32r = 0;
    f.cpu_is_m16c = 0;
    if (f.memory_file_path.empty()) {
        f.Label2.caption = "FILEERROR";
        return;
    }
    f.ramdata_store.visible = false;
    f.ramdata_get.visible = false;
    // What cannot be read cannot be told apart from saved memories: it is
    // offered for nothing, and never replaced.
    const save_target target = check_save_target(path_from_utf8(f.memory_file_path));
    if (target == save_target::not_a_file || target == save_target::unreadable) {
        f.Label2.caption = "FILEERROR";
        f.Label9.caption = "FILE OPEN ERROR";
        return;
    }
    f.ramdata_get.visible = true;
    if (target == save_target::new_file) return;
    // Only a regular file is opened, and every line read is bounded.
    if (!f.files.open_input(1, f.memory_file_path)) return;
    if (!f.files.eof(1)) {
        const std::string first = f.files.read_line(1, header_len);
        f.first_line_bytes = first;
        if (is_memories_header(first)) {
            const std::string cpu = f.files.read_line(1);
            if (family_called(cpu)) {
                if (f.files.read_line(1) == "00000000") {
                    f.ramdata_store.visible = true;
                    f.ramdata_get.visible = false;
                }
            }
        }
    }
    f.files.close(1);
}

namespace {

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

bool upper_hex(std::string_view line, std::size_t len) {
    return line.size() == len && std::all_of(line.begin(), line.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// A memories file is some 83 KB; anything far larger is no memories file.
constexpr std::size_t memories_file_limit = 1 << 20;

}  // namespace

memories_check check_memories_file(const std::string& path, std::string& copy, std::string* why) {
    copy.clear();
    std::string ignored;
    std::string& said = why ? *why : ignored;
    said.clear();
    std::string text;
    switch (read_small_file(path_from_utf8(path), memories_file_limit, text)) {
    case small_file::read:
        break;
    case small_file::unreadable:
        return memories_check::unreadable;
    case small_file::too_large:
        return memories_check::malformed;
    }
    // The header line: 21 bytes of any value (CR and LF included), with the
    // separators at 7, 14 and 21.
    if (text.size() <= header_len) {
        said = "line 1: the file ends inside the header line";
        return memories_check::short_of_pages;
    }
    const std::string header = text.substr(0, header_len);
    if (!is_memories_header(header)) {
        said = "line 1: no header line of a memories file (21 bytes with / at 7, 14 and 21)";
        return memories_check::malformed;
    }
    line_reader lines{std::string_view(text).substr(header_len)};
    bool ended = false;
    if (!lines.next(ended).empty()) {
        said = "line 1: the header line is longer than 21 bytes";
        return memories_check::malformed;
    }
    if (!ended) {
        said = "the file ends after its header line";
        return memories_check::short_of_pages;
    }
    std::string out = header + "\r\n";
    // Every further line must be there, whole and ended, except that the
    // very last may lack its ending. A line the file ends inside is a file
    // cut short; a whole line that is wrong is a malformed file.
    std::size_t line_no = 1;
    auto expect = [&](const std::string& due, auto&& valid) {
        ++line_no;
        if (lines.done()) {
            said = "line " + std::to_string(line_no) + ": the file ends where " + due + " is due";
            return memories_check::short_of_pages;
        }
        const std::string_view line = lines.next(ended);
        if (!valid(line)) {
            said = "line " + std::to_string(line_no) + ": " + due + " is due, the file has \"" +
                   std::string(line.substr(0, 24)) + (line.size() > 24 ? "...\"" : "\"") +
                   (ended ? "" : " and ends inside it");
            return ended ? memories_check::malformed : memories_check::short_of_pages;
        }
        out.append(line);
        out += "\r\n";
        return memories_check::complete;
    };
    memories_check r = expect("the CPU line (M32R or M16C)", [](std::string_view l) { return family_called(l) != nullptr; });
    for (std::uint32_t p = 0; r == memories_check::complete && p < memories_pages; ++p) {
        const std::string address = address_line(p * 256);
        r = expect("the address line " + address, [&](std::string_view l) { return l == address; });
        for (int k = 0; k < 4 && r == memories_check::complete; ++k)
            r = expect("a line of 128 upper-case hex digits of page " + address,
                       [](std::string_view l) { return upper_hex(l, 128); });
    }
    if (r != memories_check::complete) return r;
    const std::string after = "line " + std::to_string(line_no + 1) + ": something follows the last page";
    if (!ended && !lines.done()) {
        said = after;
        return memories_check::malformed;
    }
    // Nothing may follow but one empty last line.
    if (!lines.done()) {
        const std::string_view rest = lines.next(ended);
        if (!rest.empty() || !lines.done()) {
            said = after;
            return memories_check::malformed;
        }
    }
    copy = std::move(out);
    return memories_check::complete;
}

srecord parse_srecord(std::string_view line) {
    srecord rec;
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line.size() % 2 != 0)
        return rec;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        int v[2];
        for (int k = 0; k < 2; ++k) {
            const char c = line[i + static_cast<std::size_t>(k)];
            v[k] = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (v[k] < 0) return rec;
        }
        bytes.push_back(static_cast<std::uint8_t>(v[0] * 16 + v[1]));
    }
    // count, then count bytes: address, data, checksum
    if (bytes[0] + 1u != bytes.size()) return rec;
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0xFF) return rec;
    const int type = line[1] - '0';
    std::size_t address_len = 0;
    switch (type) {
    case 1: address_len = 2; break;
    case 2: address_len = 3; break;
    case 3: address_len = 4; break;
    case 0: case 5: case 6: case 7: case 8: case 9:
        rec.what = srecord::kind::other;
        return rec;
    default:
        return rec;
    }
    if (bytes[0] < address_len + 1) return rec;
    for (std::size_t i = 0; i < address_len; ++i) rec.address = rec.address << 8 | bytes[1 + i];
    rec.data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(address_len), bytes.end() - 1);
    rec.what = srecord::kind::data;
    return rec;
}

conversion convert_rom_data_file(main_form& f) {
    if (!f.files.open_input(1, f.memory_file_path)) return conversion::no_file;
    if (!f.files.open_output(2, f.image_file_path)) {
        f.files.close(1);
        return conversion::no_file;
    }
    std::vector<char> table(static_cast<std::size_t>(table_pages) * page_text, 'F');
    bool m16c_base = false;
    bool any_record = false;
    bool any_data = false;
    conversion result = conversion::ok;
    while (!f.files.eof(1)) {
        const std::string line = f.files.read_line(1);
        if (line.empty()) continue;
        const srecord rec = parse_srecord(line);
        if (rec.what == srecord::kind::other) continue;  // header, counts, ends
        // Addresses above FFFFFF have no page in either family.
        const std::string at = "line " + std::to_string(f.files.lines_read(1)) + " of " + f.memory_file_path;
        if (rec.what == srecord::kind::bad || rec.address > 0xFFFFFF) {
            f.detail = at + (rec.what == srecord::kind::bad
                                 ? " is no S-record (a wrong digit, length or checksum)"
                                 : " is addressed above FFFFFF, where neither family has a page");
            result = conversion::bad_record;
            break;
        }
        // The record's first page decides the family: below 0C0000 M32R.
        // One file is one family: pages of the other would land on top of
        // the first family's.
        std::uint32_t base = 0;
        std::uint32_t limit = table_pages;
        const bool m16c_record = rec.address / 256 >= m16c_family.first_image_page;
        if (any_record && m16c_record != m16c_base) {
            f.detail = at + " is addressed for the other CPU family than the lines before it (M32R below 0C0000, "
                            "M16C from there): one file is one family";
            result = conversion::bad_record;
            break;
        }
        any_record = true;
        if (!m16c_record) {
            m16c_base = false;
            Option1_Click(f);
        } else {
            m16c_base = true;
            base = std::uint32_t{m16c_family.first_image_page} * 256;
            limit = 1024;  // 0C0000-0FFFFF: the address line has no room beyond
            Option2_Click(f);
        }
        const std::uint64_t first = rec.address - base;
        if ((first + rec.data.size() + 255) / 256 > limit) {
            f.detail = at + " reaches beyond the family's image area";
            result = conversion::bad_record;
            break;
        }
        for (std::size_t i = 0; i < rec.data.size(); ++i) {
            const std::string digits = hex2(rec.data[i]);
            std::copy_n(digits.begin(), 2, table.begin() + static_cast<std::ptrdiff_t>(2 * (first + i)));
        }
        any_data = any_data || !rec.data.empty();
    }
    if (result == conversion::ok && !any_data) {
        f.detail = f.memory_file_path + " holds no data record";
        result = conversion::no_data;
    }
    if (result != conversion::ok) {
        f.files.close(1);
        f.files.close(2);
        return result;
    }
    for (int p = 0; p < table_pages; ++p) {
        const char* page = table.data() + static_cast<std::size_t>(p) * page_text;
        if (std::all_of(page, page + page_text, [](char c) { return c == 'F'; })) continue;
        f.files.print_line(2, address_line(static_cast<std::uint32_t>(p) * 256 + (m16c_base ? std::uint32_t{m16c_family.first_image_page} * 256 : 0)));
        for (int k = 0; k < 4; ++k) f.files.print_line(2, std::string(page + 128 * k, 128));
    }
    if (f.cpu_is_m32r == 1) {
        // bytes 084-093 of page 0: characters 9-40 of its third data line
        const char* line3 = table.data() + 256;
        std::copy_n(line3 + 8, 32, f.id_code_text.begin());
    } else if (f.cpu_is_m16c == 1) {
        const char* line4 = table.data() + 1023 * page_text + 384;
        std::size_t k = 0;
        for (int off : {31, 35, 43, 47, 51, 55, 59}) {
            f.id_code_text[k++] = static_cast<std::uint8_t>(line4[2 * off]);
            f.id_code_text[k++] = static_cast<std::uint8_t>(line4[2 * off + 1]);
        }
    }
    f.files.close(1);
    const bool written = f.files.close(2);
    // The family just chosen also decides the control page and the filter.
    f.Label2.caption = (m16c_base ? m16c_family : m32r_family).flash_name;
    return written ? conversion::ok : conversion::no_file;
}

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
    if (f.cpu_is_m32r == 1) {
        pages[5].replace(0, 8 + 32, "84000010" + id_text(32, 16));
    } else if (f.cpu_is_m16c == 1) {
        pages[5].replace(0, 8 + 14, "DFFF0F07" + id_text(14, 14));
    }
    put(6, 0, static_cast<std::uint8_t>(f.write_count_limit & 0xFF));
    if (!f.files.open_output(1, f.control_file_path)) return false;
    for (std::size_t p = 0; p < 32; ++p) {
        if (pages[p] == std::string(page_text, 'F')) continue;
        f.files.print_line(1, address_line(static_cast<std::uint32_t>(p) * 256));
        for (std::size_t k = 0; k < 4; ++k) f.files.print_line(1, pages[p].substr(128 * k, 128));
    }
    return f.files.close(1);
}

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
    const int i = family->block_of_page(static_cast<std::uint16_t>(b1 << 8 | b2));
    if (i < 0 || unselected(f.fblock(i))) return std::nullopt;
    return static_cast<std::uint8_t>(b1 + family->store_shift);
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
