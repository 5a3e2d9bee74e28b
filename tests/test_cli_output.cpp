// What torvela-cli writes for a script and for a person: every text a
// header line, a file name or a detail may hold comes out as JSON a parser
// takes and as text that reaches a terminal as text, never as a command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memories/memories_reading.hpp"
#include "output.hpp"

namespace {

struct text_case {
    const char* what;
    std::string in;
    std::string json;       // json_string(in)
    std::string printable;  // printable(in)
};

}  // namespace

TEST(CliOutput, JsonAndTerminalTextOfEveryByte) {
    const std::vector<text_case> cases = {
        {"plain", "SAVE MEMORIES TO FILE COMPLETE", "\"SAVE MEMORIES TO FILE COMPLETE\"", "SAVE MEMORIES TO FILE COMPLETE"},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\"", "a\"b\\c"},
        {"control bytes", std::string("a\tb\x1b[2Jc\x7f", 9), "\"a\\u0009b\\u001B[2Jc\\u007F\"", "a\\x09b\\x1B[2Jc\\x7F"},
        {"a line break", "one\ntwo", "\"one\\u000Atwo\"", "one\ntwo"},
        {"Japanese stays itself", "ライタ書き込み回数読込ＯＫ", "\"ライタ書き込み回数読込ＯＫ\"", "ライタ書き込み回数読込ＯＫ"},
        {"a four-byte character", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\"", "\xF0\x9F\x98\x80"},
        {"a byte that starts no sequence", "a\x80z", "\"a\\uDC80z\"", "a\\x80z"},
        {"a byte no sequence has", "\xFF", "\"\\uDCFF\"", "\\xFF"},
        {"a sequence cut short", "\xE3\x83", "\"\\uDCE3\\uDC83\"", "\\xE3\\x83"},
        {"an overlong form", "\xC0\xAF", "\"\\uDCC0\\uDCAF\"", "\\xC0\\xAF"},
        {"a surrogate's code", "\xED\xA0\x80", "\"\\uDCED\\uDCA0\\uDC80\"", "\\xED\\xA0\\x80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "\"\\uDCF4\\uDC90\\uDC80\\uDC80\"", "\\xF4\\x90\\x80\\x80"},
        {"a NUL", std::string("a\0b", 3), "\"a\\u0000b\"", "a\\x00b"},
    };
    for (const text_case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cli::json_string(c.in), c.json);
        EXPECT_EQ(cli::printable(c.in), c.printable);
    }
}

// Where two pages differ, as runs of byte offsets.
TEST(MemoriesReading, DifferingBytesAsRuns) {
    struct runs_case {
        const char* what;
        std::vector<std::size_t> changed;
        std::string runs;
    };
    const std::vector<runs_case> cases = {
        {"equal", {}, ""},
        {"the first byte", {0}, "00"},
        {"the last byte", {255}, "FF"},
        {"a run", {16, 17, 18, 19}, "10-13"},
        {"two runs and a byte", {0, 1, 2, 0x40, 0x80, 0x81}, "00-02, 40, 80-81"},
        {"the whole page", {}, "00-FF"},
    };
    for (const runs_case& c : cases) {
        SCOPED_TRACE(c.what);
        torvela::page_bytes a{}, b{};
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = b[i] = static_cast<std::uint8_t>(i);
        if (c.runs == "00-FF")
            for (auto& byte : b) byte = static_cast<std::uint8_t>(~byte);
        for (const std::size_t at : c.changed) b[at] ^= 0x01;
        EXPECT_EQ(torvela::compare_pages(a, b).runs, c.runs);
    }
}

// The pages a dry run names, as runs of consecutive store pages.
TEST(MemoriesReading, PagesAsRuns) {
    const struct {
        std::vector<std::uint32_t> pages;
        const char* runs;
    } table[] = {
        {{}, "none"},
        {{0x000000}, "000000"},
        {{0x000000, 0x000500, 0x000600, 0x020000, 0x020100}, "000000, 000500-000600, 020000-020100"},
        {{0x017F00, 0x018000}, "017F00-018000"},       // across a block
        {{0x000A00, 0x000000, 0x000100}, "000A00, 000000-000100"},  // in the order read
        {{0x010000, 0x010000}, "010000, 010000"},      // read twice
    };
    for (const auto& row : table) EXPECT_EQ(torvela::page_runs(row.pages), row.runs);
}
