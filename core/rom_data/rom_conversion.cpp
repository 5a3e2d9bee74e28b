#include "rom_data/memory_files.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "engine/engine.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"
#include "platform/sha256.hpp"
#include "rom_data/file_text.hpp"

namespace torvela {

srecord parse_srecord(std::string_view line) {
    srecord rec;
    const auto bad = [&rec](std::string why) {
        rec.why = std::move(why);
        return rec;
    };
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return bad("it does not begin with S and a record type 0 to 9");
    if (line.size() % 2 != 0) return bad("it has an odd number of hex digits");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i < line.size(); i += 2) {
        int v[2];
        for (int k = 0; k < 2; ++k) {
            const char c = line[i + static_cast<std::size_t>(k)];
            v[k] = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (v[k] < 0) return bad("column " + std::to_string(i + static_cast<std::size_t>(k) + 1) + " holds '" + std::string(1, c) + "', no hex digit");
        }
        bytes.push_back(static_cast<std::uint8_t>(v[0] * 16 + v[1]));
    }
    // count, then count bytes: address, data, checksum
    if (bytes[0] + 1u != bytes.size())
        return bad("its count says " + std::to_string(bytes[0]) + " bytes, the line holds " + std::to_string(bytes.size() - 1));
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0xFF) {
        char said[64];
        std::snprintf(said, sizeof said, "its checksum is %02X, the bytes before it call for %02X", bytes.back(),
                      static_cast<unsigned>(~(sum - bytes.back())) & 0xFFu);
        return bad(said);
    }
    const int type = line[1] - '0';
    std::size_t address_len = 0;
    switch (type) {
    case 1: address_len = 2; break;
    case 2: address_len = 3; break;
    case 3: address_len = 4; break;
    case 7: case 8: case 9:
        rec.what = srecord::kind::end;
        return rec;
    case 5: case 6:
        if (bytes[0] != (type == 5 ? 3u : 4u)) return bad("a record count of S" + std::to_string(type) + " holds " + std::to_string(type == 5 ? 2 : 3) + " bytes of count");
        for (std::size_t i = 1; i + 1 < bytes.size(); ++i) rec.address = rec.address << 8 | bytes[i];
        rec.what = srecord::kind::count;
        return rec;
    case 0:
        rec.what = srecord::kind::other;
        return rec;
    default:
        return bad("its record type S4 is no type of S-record");
    }
    if (bytes[0] < address_len + 1) return bad("it is too short for its address");
    for (std::size_t i = 0; i < address_len; ++i) rec.address = rec.address << 8 | bytes[1 + i];
    rec.data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(address_len), bytes.end() - 1);
    rec.what = srecord::kind::data;
    return rec;
}

conversion convert_rom_data_file(main_form& f) {
    // The file is read once: the digest its record names is of the bytes
    // the conversion reads, through the same open file.
    const std::filesystem::path chosen = path_from_utf8(f.memory_file_path);
    std::FILE* in = f.memory_file_path.empty() || !is_plain_file(chosen) ? nullptr : open_c_file(chosen, "rb");
    if (!in) return conversion::no_file;
    sha256 digest;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) digest.add(std::string_view(buffer, n));
    if (std::ferror(in) || std::fseek(in, 0, SEEK_SET) != 0) {
        std::fclose(in);
        return conversion::no_file;
    }
    if (!f.files.adopt(1, in, false)) return conversion::no_file;
    note_chosen_file(f, digest.hex());
    if (!f.files.open_output(2, f.image_file_path)) {
        f.files.close(1);
        return conversion::no_file;
    }
    std::vector<char> table(static_cast<std::size_t>(table_pages) * page_text, 'F');
    bool m16c_base = false;
    bool any_record = false;
    bool any_data = false;
    // A file cut short at a line boundary parses whole: only its end record
    // tells it was written to the end.
    // A converter that writes no end record may end the file with the
    // count of its data records (S5, S6), which tells as much.
    std::size_t end_line = 0;
    std::size_t last_line = 0;
    std::uint32_t data_records = 0;
    bool counted_last = false;
    conversion result = conversion::ok;
    while (!f.files.eof(1)) {
        const std::string line = f.files.read_line(1);
        if (line.empty()) continue;
        last_line = f.files.lines_read(1);
        const srecord rec = parse_srecord(line);
        const std::string at = "line " + std::to_string(last_line) + " of " + f.memory_file_path;
        if (end_line != 0 && rec.what != srecord::kind::bad) {
            f.detail = at + " follows the end record of line " + std::to_string(end_line) +
                       ": one file is one image, ended once";
            result = conversion::bad_record;
            break;
        }
        if (rec.what == srecord::kind::end) {
            end_line = last_line;
            continue;
        }
        counted_last = rec.what == srecord::kind::count;
        if (counted_last && rec.address != data_records) {
            f.detail = at + " counts " + std::to_string(rec.address) + " data records, and " +
                       std::to_string(data_records) + " came before it: the file is not whole";
            result = conversion::bad_record;
            break;
        }
        if (rec.what == srecord::kind::other || counted_last) continue;  // the header, counts
        // Addresses above FFFFFF have no page in either family.
        if (rec.what == srecord::kind::bad || rec.address > 0xFFFFFF) {
            f.detail = at + (rec.what == srecord::kind::bad
                                 ? " is no S-record: " + rec.why
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
        ++data_records;
    }
    if (result == conversion::ok && !any_data) {
        f.detail = f.memory_file_path + " holds no data record";
        result = conversion::no_data;
    }
    if (result == conversion::ok && end_line == 0 && !counted_last) {
        f.detail = f.memory_file_path + " ends at line " + std::to_string(last_line) +
                   " with no end record (S7, S8 or S9, or a count of its data records, S5 or S6) after it: "
                   "the file is cut short or was never finished";
        result = conversion::bad_record;
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
    // The image's ID code, as the digits of its bytes.
    if (const cpu_family* id = id_family(f)) {
        const char* page = table.data() + std::size_t{id->id_table_page} * page_text;
        for (std::size_t k = 0; k < id->id_byte_count; ++k) {
            f.id_code_text[2 * k] = static_cast<std::uint8_t>(page[2 * id->id_bytes[k]]);
            f.id_code_text[2 * k + 1] = static_cast<std::uint8_t>(page[2 * id->id_bytes[k] + 1]);
        }
    }
    f.files.close(1);
    const bool written = f.files.close(2);
    // The family just chosen also decides the control page and the filter.
    f.Label2.caption = (m16c_base ? m16c_family : m32r_family).flash_name;
    return written ? conversion::ok : conversion::no_file;
}

}  // namespace torvela
