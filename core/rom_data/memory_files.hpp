// Memory files: the file choice (file_select.cpp), the page text layout of
// an address line and four data lines of 128 hex digits per 256-byte page
// (file_text.cpp), the check of a memories file (memories_check.cpp), the
// ROM data conversion into the image work file (rom_conversion.cpp), the
// control work file (control_file.cpp), and the page readers and senders
// the page exchanges use (work_pages.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/main_form.hpp"

namespace torvela {

inline constexpr int table_pages = 1792;
inline constexpr std::size_t header_len = 21;
// The open dialog's filters as name|patterns pairs: the memories files
// first, then the ROM images and writer programs a service engineer chooses.
inline constexpr const char* memory_file_filter =
    "Memory files (*.dat)|*.dat|ROM images (*.mot *.s19 *.s28 *.s37 *.srec *.hex)|*.mot;*.s19;*.s28;*.s37;*.srec;*.hex|"
    "All files (*)|*";

using page_bytes = std::array<std::uint8_t, 256>;

// Digit values as the readers decode them: only upper-case digits decode
// right; anything else gives a wrong value, never a fault.
int data_digit(char c);
int address_digit(char c);
std::string hex2(std::uint8_t b);

// Every byte in which two pages differ, in order: how many, their runs
// ("00-1F, 80"), and the bytes themselves.
struct page_difference {
    int count = 0;
    std::string runs;
    // The differing bytes in hex, one pair each, space between: the file's,
    // the writer's, and the bits that changed (their exclusive or).
    std::string file, writer, bits;
    int first = -1;  // offset of the first
};
page_difference compare_pages(const page_bytes& file, const page_bytes& writer);
// The difference as an engineer reads it: "3 bytes differ (10, 20-21): the
// file has 41 42 43, the writer 40 02 C3 (bits 01 40 80)"; past `shown`
// bytes the values are cut, and say so.
std::string difference_text(const page_difference& d, std::size_t shown = 16);

// The address line of a page: its address as eight hex digits ("000C0000").
std::string address_line(std::uint32_t page_address);
// The address line of the page numbered `page` (256 bytes a page).
inline std::string page_address_line(std::size_t page) { return address_line(static_cast<std::uint32_t>(page) * 256); }

// The four data lines of a page.
std::array<std::string, 4> page_lines(const page_bytes& page);
// A page from four data lines (short lines read as if padded with "0").
page_bytes page_from_lines(const std::array<std::string, 4>& lines);

// The header line of a memories file from the machine version page, and back.
std::string header_line(const std::uint8_t* page);
bool is_memories_header(std::string_view line);

void file_select_Click(main_form& f);

// A memories file read whole before anything is sent: the header line, the
// CPU line, exactly 128 records for pages 0000 to 7F00 in order, then the
// end (CR LF or LF endings, one empty last line allowed). `copy` receives
// the file with CR LF endings when it is complete.
enum class memories_check { complete, short_of_pages, malformed, unreadable };
// `read_bytes`, when given, receives the file as it was read.
// `why`, when given, says where and what for a check that fails ("line 7:
// the address line 00000100 is due, the file has ...").
memories_check check_memories_file(const std::string& path, std::string& copy, std::string* why = nullptr,
                                   std::string* read_bytes = nullptr);
inline constexpr std::uint8_t memories_pages = 128;
// A memories file as its pages: the header line (the machine version page's
// first 21 bytes as the save wrote them), the CPU line, the 128 pages.
struct memories_image {
    std::string header, cpu;
    std::array<page_bytes, memories_pages> pages{};
};
// The checked copy `check_memories_file` gave, as pages.
memories_image memories_image_of(const std::string& copy);
// The unit's digest: the SHA-256 of the memories area's pages in address
// order, the same for every file that holds the unit (its name, its line
// ends, its header aside) and for the writer's store.
std::string unit_sha256(const std::array<page_bytes, memories_pages>& pages);
// The same for a memories file's checked copy.
inline std::string unit_sha256(const std::string& copy) { return unit_sha256(memories_image_of(copy).pages); }

// One S-record line: S0 header, S1/S2/S3 data with a 2-, 3- or 4-byte
// address, S5/S6 counts, S7/S8/S9 ends. Digits in either case; the length
// and the checksum must agree with the count.
struct srecord {
    // end: S7, S8, S9; count: S5, S6 (the count in `address`)
    enum class kind { data, end, count, other, bad } what = kind::bad;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> data;
    std::string why;  // what makes a bad record bad
};
srecord parse_srecord(std::string_view line);

// The outcome of the conversion; anything but ok leaves nothing usable.
enum class conversion { ok, no_file, bad_record, no_data };
conversion convert_rom_data_file(main_form& f);
// Writes the control work file (32 pages) and sets pass_flag 0.
bool build_control_file(main_form& f);

// Whether every page of the image work file lies in a block of its family
// (M32R 000000-05FFFF, M16C 0C0000-0FFFFF): a file with pages beyond is not
// sent at all.
bool image_fits_store(const main_form& f);

// Whether the page at address bytes b1, b2 of a work file goes to the writer
// in this pass, and the byte 1 it is sent with (the address translation).
std::optional<std::uint8_t> image_page_filter(const main_form& f, std::uint8_t b1, std::uint8_t b2);
// The pages of a work file the filter passes (for the progress figures).
int count_image_pages(const main_form& f, const std::string& path);

// Page readers; file 1 is positioned at an address line.
void next_image_page(main_form& f);
void next_memories_page(main_form& f);
// Page blocks: read (or build) the current page and send it.
page_bytes read_page_block(main_form& f);
page_bytes memories_page_block(main_form& f);
void send_page_data(main_form& f);
void send_memories_page_data(main_form& f);

// The header or CPU page a memories file stands for (pass_flag 1).
page_bytes special_memories_page(const main_form& f);

}  // namespace torvela
