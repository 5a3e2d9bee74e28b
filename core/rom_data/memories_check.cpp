#include "rom_data/memory_files.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"
#include "platform/sha256.hpp"
#include "rom_data/file_text.hpp"

namespace torvela {

namespace {

bool upper_hex(std::string_view line, std::size_t len) {
    return line.size() == len && std::all_of(line.begin(), line.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// A memories file is some 83 KB; anything far larger is no memories file.
constexpr std::size_t memories_file_limit = 1 << 20;

}  // namespace

memories_check check_memories_file(const std::string& path, std::string& copy, std::string* why,
                                   std::string* read_bytes) {
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
    if (read_bytes) *read_bytes = text;
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
        const std::string address = page_address_line(p);
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

memories_image memories_image_of(const std::string& copy) {
    memories_image image;
    image.header = copy.substr(0, header_len);
    line_reader lines{std::string_view(copy).substr(header_len + 2)};
    bool ended = false;
    image.cpu = std::string(lines.next(ended));
    for (page_bytes& page : image.pages) {
        lines.next(ended);  // the address line
        std::array<std::string, 4> data;
        for (std::string& line : data) line = std::string(lines.next(ended));
        page = page_from_lines(data);
    }
    return image;
}

std::string unit_sha256(const std::array<page_bytes, memories_pages>& pages) {
    sha256 digest;
    for (const page_bytes& page : pages)
        digest.add(std::string_view(reinterpret_cast<const char*>(page.data()), page.size()));
    return digest.hex();
}

}  // namespace torvela
