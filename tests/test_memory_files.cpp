// File selection, the ROM data conversion (checked against S-records made by
// srec_cat from random binaries) and the ID typed for the control work file.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <random>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "link/link.hpp"
#include "memories/memories.hpp"
#include "rom_data/page_exchange.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;

namespace {

struct file_rig : writer_sim::rig {
    private_work_folder dir;
    std::string choose(const std::string& name, const std::string& content) {
        const std::string p = dir.file(name);
        write_file(p, content);
        dlg.files.push_back(p);
        file_select_Click(*form);
        return p;
    }
};

// Pages of a work file: page address to its 256 bytes.
std::map<std::uint32_t, page_bytes> read_work_file(const std::string& path) {
    std::map<std::uint32_t, page_bytes> pages;
    const std::vector<std::string> lines = crlf_lines(read_file(path));
    for (std::size_t i = 0; i + 4 < lines.size(); i += 5) {
        const std::uint32_t a = static_cast<std::uint32_t>(std::stoul(lines[i], nullptr, 16));
        pages[a] = page_from_lines({lines[i + 1], lines[i + 2], lines[i + 3], lines[i + 4]});
    }
    return pages;
}

std::string memories_text(const std::string& header, const std::string& cpu, const std::string& third,
                          const char* eol) {
    return header + eol + cpu + eol + third + eol + std::string(128, 'F') + eol;
}

}  // namespace

struct selection_case {
    const char* name;
    std::string content;
    bool memories;
};

class FileSelection : public ::testing::TestWithParam<selection_case> {};

TEST_P(FileSelection, OffersTheMatchingButton) {
    file_rig r;
    r.choose("chosen.dat", GetParam().content);
    EXPECT_EQ(r.form->ramdata_store.visible, GetParam().memories);
    EXPECT_EQ(r.form->ramdata_get.visible, !GetParam().memories);
    EXPECT_EQ(r.form->Label10.caption, r.dir.file("chosen.dat"));
    EXPECT_FALSE(r.files.is_open(1));
}

const std::string good_header = "ABCDEF/GHIJKL/MNOPQR/";

std::string garbage_bytes() {
    static const char bytes[] = "\x00\xFF\x80/\r\n\x01/\n////////////////////////";
    return std::string(bytes, sizeof bytes - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileSelection,
    ::testing::Values(
        selection_case{"memories_crlf", memories_text(good_header, "M32R", "00000000", "\r\n"), true},
        selection_case{"memories_lf", memories_text(good_header, "M16C", "00000000", "\n"), true},
        selection_case{"header_with_line_breaks",
                       memories_text("AB\r\nEF/\nHIJKL/MN,\"QR/", "M32R", "00000000", "\r\n"), true},
        selection_case{"wrong_third_line", memories_text(good_header, "M32R", "00000100", "\r\n"), false},
        selection_case{"wrong_cpu_line", memories_text(good_header, "M32C", "00000000", "\r\n"), false},
        selection_case{"slash_missing", memories_text("ABCDEF/GHIJKL/MNOPQRS", "M32R", "00000000", "\r\n"), false},
        selection_case{"short_header", memories_text("ABCDEF/GHIJKL/", "M32R", "00000000", "\r\n"), false},
        selection_case{"rom_data_m32r", s2_record(0x000100, {1, 2, 3}) + "\r\nS804000000FB\r\n", false},
        selection_case{"rom_data_m16c", s2_record(0x0C0000, {1, 2, 3}) + "\r\nS804000000FB\r\n", false},
        selection_case{"empty", "", false},
        selection_case{"garbage", garbage_bytes(), false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(FileSelection, CancelledDialog) {
    file_rig r;
    r.form->cpu_is_m32r = 1;
    file_select_Click(*r.form);
    EXPECT_EQ(r.form->memory_file_path, "");
    EXPECT_EQ(r.form->Label10.caption, "");
    EXPECT_EQ(r.form->Label2.caption, "FILEERROR");
    EXPECT_EQ(r.form->cpu_is_m32r, 0);
}

TEST(FileSelection, MissingFileIsNoMemoriesFile) {
    file_rig r;
    r.dlg.files.push_back(r.dir.file("gone.dat"));
    file_select_Click(*r.form);
    EXPECT_TRUE(r.form->ramdata_get.visible);
    EXPECT_FALSE(r.form->ramdata_store.visible);
}

// What the tool cannot read it must not replace: a pipe (which would also
// block the window), a device, a memories file the operator may not read.
// None is offered for a save, and a save pressed anyway (the file changed
// after it was chosen) reads nothing from the writer. A read-only file is
// offered, and the save refused at once.
TEST(FileSelection, WhatCannotBeReadIsNeverReplaced) {
    file_rig r;
    const std::string saved = r.dir.file("saved.dat");
    write_file(saved, "UNIT 1\0V2.0 A\0LINE 3\0\r\nM32R\r\n00000000\r\n");
    struct {
        std::string path;
        std::filesystem::perms mode;
        bool offered;
    } rows[] = {
#ifndef _WIN32
        {r.dir.file("pipe.dat"), std::filesystem::perms::owner_read, false},
        {"/dev/zero", std::filesystem::perms::none, false},
        {saved, std::filesystem::perms::owner_write, false},
#endif
        {saved, std::filesystem::perms::owner_read, true},
    };
#ifndef _WIN32
    ASSERT_EQ(mkfifo(rows[0].path.c_str(), 0600), 0);
#endif
    const std::string before = read_file(saved);
    for (const auto& row : rows) {
        if (row.path == saved) std::filesystem::permissions(saved, row.mode);
        r.dlg.files.push_back(row.path);
        file_select_Click(*r.form);
        EXPECT_EQ(r.form->memory_file_path, row.path);
        EXPECT_EQ(r.form->ramdata_get.visible, row.offered) << row.path;
        EXPECT_EQ(r.form->Label9.caption, row.offered ? "" : "FILE OPEN ERROR") << row.path;
        EXPECT_FALSE(r.form->ramdata_store.visible);
        EXPECT_FALSE(r.files.is_open(1));
        r.port.lost = false;
        ramdata_get_Click(*r.form);
        EXPECT_EQ(r.form->job_no, 0) << row.path;
        EXPECT_EQ(r.form->Label9.caption, "FILE OPEN ERROR");
        EXPECT_EQ(r.port.opens, 0);
        r.form->Label9.caption.clear();
    }
    std::filesystem::permissions(saved, std::filesystem::perms::owner_all);
    EXPECT_EQ(read_file(saved), before);
}

// ---- conversion against srec_cat --------------------------------------------

struct srec_case {
    const char* name;
    std::uint32_t base;  // where the binary lies
    std::size_t size;
    int block;           // bytes per record
    // srec_cat's S0 header record and its count of data records (and no end
    // record); without them, the end record of an execution start address.
    bool header;
    bool m16c;
    int address_length;  // 2: S1/S9, 3: S2/S8, 4: S3/S7
    bool lower_case;     // hex digits turned to lower case
};

class ConversionAgainstSrecCat : public ::testing::TestWithParam<srec_case> {};

TEST_P(ConversionAgainstSrecCat, PagesMatchTheBinary) {
    if (!srec_files_available()) GTEST_SKIP() << "srec_cat missing";
    const srec_case& c = GetParam();
    file_rig r;
    std::mt19937 rng(static_cast<unsigned>(c.size * 31 + c.base));
    std::string bin(c.size, '\0');
    for (char& b : bin) b = static_cast<char>(rng() & 0xFF);
    // One page left all FF: it must not appear in the work file.
    if (c.size > 0x300) std::fill_n(bin.begin() + 0x200, 256, '\xFF');
    const std::string bin_path = r.dir.file("image.bin"), srec_path = r.dir.file("image.mot");
    write_file(bin_path, bin);
    char base[16];
    std::snprintf(base, sizeof base, "0x%X", c.base);
    const std::string out = "-motorola -address-length=" + std::to_string(c.address_length) +
                            " -obs=" + std::to_string(c.block) +
                            (c.header ? "" : " -disable=header -disable=data-count");
    ASSERT_TRUE(srec_cat(bin_path, std::string("-offset ") + base + (c.header ? "" : " -execution-start-address=0"),
                         srec_path, out))
        << out;
    if (c.lower_case) {
        std::string text = read_file(srec_path);
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] != 'S') text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        write_file(srec_path, text);
    }

    r.form->memory_file_path = srec_path;
    ASSERT_EQ(convert_rom_data_file(*r.form), conversion::ok);
    EXPECT_EQ(r.form->cpu_is_m16c, c.m16c ? 1 : 0);
    EXPECT_EQ(r.form->cpu_is_m32r, c.m16c ? 0 : 1);
    EXPECT_EQ(r.form->Label2.caption, c.m16c ? "M16CFLASH" : "M32RFLASH");
    const auto pages = read_work_file(r.form->image_file_path);
    std::size_t expected_pages = 0;
    for (std::uint32_t a = c.base & ~0xFFu; a < c.base + c.size; a += 256) {
        page_bytes want;
        want.fill(0xFF);
        for (std::uint32_t i = 0; i < 256; ++i)
            if (a + i >= c.base && a + i < c.base + c.size)
                want[i] = static_cast<std::uint8_t>(bin[a + i - c.base]);
        const bool all_ff = std::all_of(want.begin(), want.end(), [](auto b) { return b == 0xFF; });
        const auto it = pages.find(a);
        if (all_ff) {
            EXPECT_EQ(it, pages.end()) << std::hex << a;
            continue;
        }
        ++expected_pages;
        ASSERT_NE(it, pages.end()) << std::hex << a;
        EXPECT_EQ(it->second, want) << std::hex << a;
    }
    EXPECT_EQ(pages.size(), expected_pages);
}

INSTANTIATE_TEST_SUITE_P(
    Images, ConversionAgainstSrecCat,
    ::testing::Values(srec_case{"m32r_s19", 0x000000, 0x1234, 32, true, false, 2, false},
                      srec_case{"m32r_s19_lower_case", 0x0000F0, 0x2000, 16, false, false, 2, true},
                      srec_case{"m32r_records_of_100", 0x012345, 0x3000, 100, true, false, 3, false},
                      srec_case{"m32r_top", 0x06F000, 0x1000, 64, false, false, 3, false},
                      srec_case{"m32r_384k_s37", 0x000000, 0x60000, 32, true, false, 4, false},
                      srec_case{"m16c_full", 0x0C0000, 0x40000, 32, true, true, 3, false},
                      srec_case{"m16c_s37_unaligned", 0x0FF0F0, 0xF10, 48, false, true, 4, false},
                      srec_case{"m16c_s28_lower_case", 0x0E0010, 0x800, 250, true, true, 3, true}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- conversion edge cases ----------------------------------------------------

TEST(Conversion, OverrunAtF0ContinuesOnTheNextPage) {
    file_rig r;
    std::vector<std::uint8_t> data(32);
    for (std::size_t i = 0; i < 32; ++i) data[i] = static_cast<std::uint8_t>(i);
    write_file(r.dir.file("a.mot"), "S0030000FC\r\n" + s2_record(0x0001F0, data) + "\r\nS5030001FB\r\nS804000000FB\r\n");
    r.form->memory_file_path = r.dir.file("a.mot");
    ASSERT_EQ(convert_rom_data_file(*r.form), conversion::ok);
    const auto pages = read_work_file(r.form->image_file_path);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages.at(0x100)[0xF0], 0);
    EXPECT_EQ(pages.at(0x100)[0xFF], 15);
    EXPECT_EQ(pages.at(0x200)[0], 16);
    EXPECT_EQ(pages.at(0x200)[15], 31);
    EXPECT_EQ(pages.at(0x200)[16], 0xFF);
    const auto lines = crlf_lines(read_file(r.form->image_file_path));
    EXPECT_EQ(lines[0], "00000100");
    EXPECT_EQ(lines[5], "00000200");
}

TEST(Conversion, LastRecordDecidesTheFamilyAndAddressLines) {
    file_rig r;
    write_file(r.dir.file("a.mot"), s2_record(0x0FF000, {0x12}) + "\n" + s8_end);
    r.form->memory_file_path = r.dir.file("a.mot");
    ASSERT_EQ(convert_rom_data_file(*r.form), conversion::ok);
    EXPECT_EQ(crlf_lines(read_file(r.form->image_file_path))[0], "000FF000");
    EXPECT_EQ(r.form->Label23.caption, "ブロック６0C0000-0CFFFF");
}

// The M16C ID code: seven bytes between 0FFFDF and 0FFFFB.
TEST(Conversion, IdCodeExtraction) {
    file_rig r;
    std::vector<std::uint8_t> tail(33, 0x00);
    const std::uint32_t offs[] = {0xDF, 0xE3, 0xEB, 0xEF, 0xF3, 0xF7, 0xFB};
    for (std::size_t k = 0; k < 7; ++k) tail[offs[k] - 0xDF] = static_cast<std::uint8_t>(0x11 * (k + 1));
    write_file(r.dir.file("b.mot"), s2_record(0x0FFFDF, tail) + "\n" + s8_end);
    r.form->memory_file_path = r.dir.file("b.mot");
    ASSERT_EQ(convert_rom_data_file(*r.form), conversion::ok);
    EXPECT_EQ(std::string(r.form->id_code_text.begin(), r.form->id_code_text.begin() + 14), "11223344556677");
}

struct bad_file_case {
    const char* name;
    std::string content;
    conversion result;
    const char* said = "";  // in the detail: which check refused it
};

// An S-record of `type` with the count byte `count` and its checksum made
// right for it, whatever the bytes that follow.
std::string srec(char type, int count, const std::vector<std::uint8_t>& body) {
    std::string text = std::string("S") + type;
    unsigned sum = static_cast<unsigned>(count);
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", count);
    text += hex;
    for (const std::uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFFu);
    return text + hex + "\n";
}

class ConversionRefuses : public ::testing::TestWithParam<bad_file_case> {};

TEST_P(ConversionRefuses, NothingIsSent) {
    file_rig r;
    write_file(r.dir.file("bad.mot"), GetParam().content);
    r.form->memory_file_path = r.dir.file("bad.mot");
    EXPECT_EQ(convert_rom_data_file(*r.form), GetParam().result);
    EXPECT_NE(r.form->detail.find(GetParam().said), std::string::npos) << r.form->detail;
    EXPECT_FALSE(r.files.is_open(1));
    EXPECT_FALSE(r.files.is_open(2));

    // The verify button reports it and sends nothing.
    command1_Click(*r.form);
    verify_Click(*r.form);
    EXPECT_EQ(r.form->Label9.caption, "ROM DATA FILE ERROR");
    EXPECT_EQ(r.form->engine_step, 0);
    r.run_for(100'000);
    EXPECT_TRUE(r.line.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConversionRefuses,
    ::testing::Values(
        bad_file_case{"beyond_m32r_table", s2_record(0x070000, {1}) + "\n", conversion::bad_record},
        bad_file_case{"overrun_beyond_table", s2_record(0x06FFF0, std::vector<std::uint8_t>(32, 1)) + "\n", conversion::bad_record},
        bad_file_case{"beyond_m16c_table", s2_record(0x100000, {1}) + "\n", conversion::bad_record},
        bad_file_case{"both_families", s2_record(0x000100, {1}) + "\n" + s2_record(0x0C0100, {2}) + "\n",
                      conversion::bad_record},
        // Converted (a writer program may lie there), but no store page.
        bad_file_case{"beyond_the_store", s2_record(0x000100, {1}) + "\n" + s2_record(0x060000, {2}) + "\n" + s8_end,
                      conversion::ok},
        // A file is whole when it ends in its end record, or in the count of
        // its data records where a converter writes no end record.
        bad_file_case{"cut_at_a_line_end", s2_record(0x000100, {1}) + "\n" + s2_record(0x000200, {2}) + "\n",
                      conversion::bad_record, "ends at line 2 with no end record"},
        bad_file_case{"record_after_the_end", s2_record(0x000100, {1}) + "\n" + s8_end + s2_record(0x000200, {2}) + "\n",
                      conversion::bad_record, "line 3 of "},
        bad_file_case{"count_of_more_records", s2_record(0x000100, {1}) + "\n" + srec('5', 3, {0x00, 0x02}),
                      conversion::bad_record, "counts 2 data records, and 1 came before it"},
        bad_file_case{"checksum_one_digit", s2_record(0x000100, {1, 2, 3}).replace(16, 1, "E") + "\n",
                      conversion::bad_record, "its checksum is"},
        bad_file_case{"non_hex_character", s2_record(0x000100, {1, 2, 3}).replace(11, 1, "G") + "\n",
                      conversion::bad_record, "column 12 holds 'G', no hex digit"},
        bad_file_case{"s3_above_24_bits", "S30801000000AABBCCC5\n", conversion::bad_record, "above FFFFFF"},
        // Each wrong in one way only, all else right.
        bad_file_case{"two_characters", "S1\n", conversion::bad_record, "does not begin with S and a record type"},
        bad_file_case{"not_an_s", "X" + s2_record(0x000100, {1, 2, 3}).substr(1) + "\n", conversion::bad_record,
                      "is no S-record"},
        // "G0" would read as F0 if a digit's value were not checked.
        bad_file_case{"digit_that_would_sum", s2_record(0x000100, {0xF0}).replace(10, 1, "G") + "\n",
                      conversion::bad_record, "is no S-record"},
        bad_file_case{"count_one_short", srec('2', 6, {0x00, 0x01, 0x00, 1, 2, 3}), conversion::bad_record,
                      "its count says 6 bytes, the line holds 7"},
        bad_file_case{"count_shorter_than_address", srec('2', 3, {0x01, 0x02}), conversion::bad_record,
                      "too short for its address"},
        bad_file_case{"s4_record", "S40800000000AABBCCC6\n", conversion::bad_record, "S4 is no type"},
        bad_file_case{"trailing_space", s2_record(0x000100, {1, 2, 3}) + " \n", conversion::bad_record, "odd number"},
        bad_file_case{"line_ends_early", "S2140000000102\n", conversion::bad_record},
        bad_file_case{"three_characters", "S21\n", conversion::bad_record},
        bad_file_case{"no_data_record", "S0030000FC\r\nS804000000FB\r\n", conversion::no_data},
        bad_file_case{"empty", "", conversion::no_data}),
    [](const auto& p) { return std::string(p.param.name); });

// The ends a whole file may have: its end record of any address length, or
// the count of its data records where a converter writes no end record.
TEST(Conversion, TakesEveryWholeEnd) {
    const struct {
        const char* name;
        std::string content;
        std::size_t pages;
    } cases[] = {
        {"S9 after S1 records", "S1060100010203F2\nS9030000FC\n", 1},
        {"S7 after S3 records", "S30600000100AA4E\nS70500000000FA\n", 1},
        {"a count ends the file", s2_record(0x000100, {1}) + "\n" + s2_record(0x000200, {2}) + "\n" +
                                      srec('5', 3, {0x00, 0x02}), 2},
        {"a count, then the end record", s2_record(0x000100, {1}) + "\n" + srec('5', 3, {0x00, 0x01}) + s8_end, 1},
        {"blank lines after the end record", s2_record(0x000100, {1}) + "\n" + s8_end + "\n\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        file_rig r;
        write_file(r.dir.file("whole.mot"), c.content);
        r.form->memory_file_path = r.dir.file("whole.mot");
        EXPECT_EQ(convert_rom_data_file(*r.form), conversion::ok) << r.form->detail;
        EXPECT_EQ(read_work_file(r.form->image_file_path).size(), c.pages);
    }
}

struct typed_id_case {
    const char* name;
    std::string typed;
    std::string expected;  // the 14 ID characters of an M16C control page
};

class TypedId : public ::testing::TestWithParam<typed_id_case> {};

TEST_P(TypedId, PositionByPosition) {
    file_rig r;
    Option2_Click(*r.form);
    const std::string id = "AAAAAAAAAAAAAA";
    std::copy(id.begin(), id.end(), r.form->id_code_text.begin());
    r.form->privious_id_match.value = 1;
    r.form->ID.caption = GetParam().typed;
    ASSERT_TRUE(build_control_file(*r.form));
    const auto lines = crlf_lines(read_file(r.form->control_file_path));
    std::string line1;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i] == "00000500") line1 = lines[i + 1];
    EXPECT_EQ(line1.substr(8, 14), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TypedId,
    ::testing::Values(typed_id_case{"hex", "0123456789BCDE", "0123456789BCDE"},
                      typed_id_case{"letters_beyond_f_fall_back", "12GZ-5xy890123", "12AA-5AA890123"},
                      typed_id_case{"short_text", "123", "123AAAAAAAAAAA"},
                      typed_id_case{"wide_character_takes_all", "12３45", "AAAAAAAAAAAAAA"}),
    [](const auto& p) { return std::string(p.param.name); });
