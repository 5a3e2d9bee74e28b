// TRANSMIT ROM DATA, the writer block write, the plain write, the target
// direct write and the writer version up against the simulated writer, with
// images made by srec_cat from random binaries.
#include <gtest/gtest.h>

#include <tuple>
#include <random>

#include "erase/block_form.hpp"
#include "link/link.hpp"
#include "rom_data/image_jobs.hpp"
#include "support.hpp"

using namespace torvela;
using namespace test_support;
using writer_sim::fault;
using writer_sim::fault_kind;

namespace {

bool have_srec_cat() { return srec_files_available(); }

// A random binary at `base`, as an S-record file made by srec_cat.
struct image {
    std::uint32_t base = 0;
    std::string bytes;
};

image make_image(const private_work_folder& dir, std::uint32_t base, std::size_t size, unsigned seed,
                 const std::string& name = "image") {
    image img{base, std::string(size, '\0')};
    std::mt19937 rng(seed);
    for (char& b : img.bytes) b = static_cast<char>(rng());
    const std::string bin = dir.file(name + ".bin"), mot = dir.file(name + ".mot");
    write_file(bin, img.bytes);
    char off[16];
    std::snprintf(off, sizeof off, "0x%X", base);
    EXPECT_TRUE(srec_cat(bin, std::string("-offset ") + off, mot, "-motorola -address-length=3 -obs=32"));
    return img;
}

struct image_rig : writer_sim::rig {
    private_work_folder dir;
    explicit image_rig(std::uint8_t fill = 0x00) { sim.store.fill(fill); }
    void choose(const std::string& name = "image") {
        dlg.files.push_back(dir.file(name + ".mot"));
        file_select_Click(*form);
    }
};

}  // namespace

struct transmit_case {
    const char* name;
    std::uint32_t base;
    std::size_t size;
    std::uint32_t store_at;
    std::array<std::uint8_t, 2> cpu_code;
};

class TransmitRomData : public ::testing::TestWithParam<transmit_case> {};

TEST_P(TransmitRomData, StoreHoldsExactlyTheTranslatedImage) {
    if (!have_srec_cat()) GTEST_SKIP() << "srec_cat missing";
    const transmit_case& c = GetParam();
    image_rig r(0x00);
    const image img = make_image(r.dir, c.base, c.size, 11);
    r.choose();
    ASSERT_TRUE(r.form->ramdata_get.visible);
    flashall_write_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"ROM WRITER|OK TO TRANSMIT ROM DATA?"}));
    ASSERT_TRUE(r.run_job(3'600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ROM DATA TRANSMIT COMPLETE");
    EXPECT_FALSE(r.port.PortOpen());
    EXPECT_FALSE(r.form->Timer3.enabled);

    EXPECT_TRUE(store_equals(r.sim, c.store_at, img.bytes));
    // Control pages: CPU code, ID code descriptor with the image's ID bytes,
    // the count limit. The image blocks were erased (FF where the image does
    // not reach); untouched (00): the count pages, the memories block,
    // everything above the image.
    EXPECT_EQ(hex(r.sim.store.data(), 2), hex(c.cpu_code.data(), 2));
    EXPECT_EQ(r.sim.store[0x600], 0x01);
    EXPECT_EQ(hex(r.sim.store.data() + 0x500, 4), c.base == 0 ? "84000010" : "DFFF0F07");
    std::string id = img.bytes.substr(0x84, 16);  // M32R: 000084-000093
    if (c.base != 0) {                              // M16C: FFFDF, FFFE3, FFFEB .. FFFFB
        id.clear();
        for (const std::size_t at : {0x3FFDF, 0x3FFE3, 0x3FFEB, 0x3FFEF, 0x3FFF3, 0x3FFF7, 0x3FFFB})
            id += img.bytes[at];
    }
    EXPECT_TRUE(store_equals(r.sim, 0x504, id));
    const std::uint32_t image_end = c.store_at + static_cast<std::uint32_t>(c.size);
    for (const auto& [from, to, byte] : {std::tuple{image_end, 0x80000u, 0xFF}, {0x0002u, 0x0400u, 0xFF},
                                         {0x0601u, 0x0700u, 0xFF}, {0x0800u, 0x10000u, 0xFF},
                                         {0x0400u, 0x0500u, 0x00}, {0x0700u, 0x0800u, 0x00},
                                         {0x10000u, 0x20000u, 0x00}, {0x80000u, writer_sim::store_size, 0x00}})
        EXPECT_TRUE(store_all(r.sim, from, to, static_cast<std::uint8_t>(byte))) << std::hex << from;
    EXPECT_EQ(r.sim.erased_blocks, (std::vector<int>{0, 2, 3, 4, 5, 6}));
    EXPECT_EQ(r.sim.pages_written, 3 + static_cast<int>(c.size / 256));  // control pages 0000, 0500, 0600
    const std::vector<std::string> statuses = {
        "START TO TRANSMIT ROM DATA", "CHECK WRITER-ID OK", "BLOCK ERASE OK", "TRANSMIT NOW!", "TRANSMIT OK",
        "VERIFY NOW!", "VERIFY OK", "Writing", "TRANSMIT NOW!", "TRANSMIT OK", "VERIFY NOW!", "VERIFY OK",
        "ROM DATA TRANSMIT COMPLETE"};
    EXPECT_EQ(r.status_history(), statuses);
    // The job ran far past the trace view's lines; the saved trace still
    // holds it from its first frame to its end note.
    ASSERT_GT(r.traced.job_lines().size(), traced_port::recent_limit);
    const std::string doc = r.traced.document("test", r.form->memory_file_path);
    EXPECT_EQ(doc.rfind("TORVELA test trace\nsaved 2", 0), 0u);
    EXPECT_NE(doc.find("\nport COM1 (", 0), std::string::npos);
    EXPECT_NE(doc.find("\nfile " + r.form->memory_file_path + "\n"), std::string::npos);
    const std::size_t begins = doc.find("# job 2 begins\n");
    ASSERT_NE(begins, std::string::npos);
    EXPECT_NE(doc.find("> F5 F5\n", begins), std::string::npos);
    EXPECT_NE(doc.find("# job 2 ends: ROM DATA TRANSMIT COMPLETE (success)\n", begins), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Families, TransmitRomData,
                         ::testing::Values(transmit_case{"m32r", 0x000000, 0x60000, 0x20000, {0x03, 0x21}},
                                           transmit_case{"m16c", 0x0C0000, 0x40000, 0x20000, {0x01, 0x6C}}),
                         [](const auto& p) { return std::string(p.param.name); });

// No data, pages the store has no place for (M32R 060000 and up), both
// families in one file, or a file cut short at a line's end (its end record
// gone): the image is not sent at all.
TEST(TransmitRomData, BadFileStopsBeforeAnythingIsSent) {
    std::string whole;
    for (std::uint32_t a = 0x000100; a < 0x002100; a += 0x100) whole += s2_record(a, {1, 2, 3}) + "\r\n";
    for (const std::string& content :
         {std::string("S0030000FC\r\nS804000000FB\r\n"),
          s2_record(0x000100, {1}) + "\r\n" + s2_record(0x060000, {2}) + "\r\nS804000000FB\r\n",
          s2_record(0x0C0100, {1}) + "\r\n" + s2_record(0x000100, {2}) + "\r\nS804000000FB\r\n",
          whole.substr(0, whole.size() / 2 / 20 * 20)}) {
        image_rig r;
        write_file(r.dir.file("bad.mot"), content);
        r.choose("bad");
        flashall_write_Click(*r.form);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, "ROM DATA FILE ERROR") << content;
        EXPECT_TRUE(r.line.log.empty());
        EXPECT_FALSE(r.port.PortOpen());
    }
}

// ---- writer block write ------------------------------------------------------

TEST(BlockWrite, WritesOnlyTheChosenBlocksAndListsThem) {
    if (!have_srec_cat()) GTEST_SKIP() << "srec_cat missing";
    image_rig r(0xFF);
    const image img = make_image(r.dir, 0, 0x30000, 3);
    r.choose();
    convert_rom_data_file(*r.form);  // the dialog shows the family of the last conversion
    r.dlg.on_block_form = [](main_form& f, block_form& dlg) {
        EXPECT_EQ(dlg.block[1].caption, "ブロック１00004000-00005FFF");
        dlg.target_block[1].value = 1;  // 00004000-00005FFF
        dlg.target_block[5].value = 1;  // 00020000-0002FFFF
        OK_buttun_Click(dlg, f);
    };
    flashblock_write_Click(*r.form);
    EXPECT_EQ(r.box.asked, (std::vector<std::string>{"BLOCK WRITE CHECK|BLOCK WRITE?"}));
    EXPECT_FALSE(r.form->Timer3.enabled);
    ASSERT_TRUE(r.run_job(600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ROM WRITER BLOCK WRITE COMPLETE");
    EXPECT_TRUE(r.port.PortOpen());  // this job leaves the port open
    EXPECT_EQ(hex(r.sim.store.data() + 0x100, 12), "00010040005F020002FFFFFF");
    EXPECT_TRUE(store_equals(r.sim, 0x24000, img.bytes.substr(0x4000, 0x2000)));
    EXPECT_TRUE(store_equals(r.sim, 0x40000, img.bytes.substr(0x20000, 0x10000)));
    EXPECT_TRUE(store_all(r.sim, 0x20000, 0x24000, 0xFF));
    EXPECT_TRUE(store_all(r.sim, 0x26000, 0x40000, 0xFF));
    EXPECT_EQ(r.sim.pages_written, 4 + 0x20 + 0x100);
}

// Blocks chosen that hold no page of the image: refused before the writer
// is touched, and the writer works afterwards.
TEST(BlockWrite, NoPageInTheChosenBlocksSendsNothing) {
    if (!have_srec_cat()) GTEST_SKIP() << "srec_cat missing";
    image_rig r(0xFF);
    make_image(r.dir, 0, 0x1000, 3);
    r.choose();
    r.dlg.on_block_form = [](main_form& f, block_form& dlg) { OK_buttun_Click(dlg, f); };
    flashblock_write_Click(*r.form);
    ASSERT_TRUE(r.run_job(600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "NO PAGE ERROR");
    EXPECT_TRUE(sent(r).empty());
    EXPECT_FALSE(r.port.PortOpen());
    r.dlg.on_block_form = [](main_form& f, block_form& dlg) {
        dlg.target_block[0].value = 1;
        OK_buttun_Click(dlg, f);
    };
    flashblock_write_Click(*r.form);
    ASSERT_TRUE(r.run_job(600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ROM WRITER BLOCK WRITE COMPLETE");
}

// ---- plain write ---------------------------------------------------------------

TEST(PlainWrite, SendsTheImageWithoutAJob) {
    image_rig r(0xFF);
    std::vector<std::uint8_t> data(64, 0x12);
    write_file(r.dir.file("small.mot"), s2_record(0x004000, data) + "\r\n" + s2_record(0x000000, data) + "\r\n" + s8_end);
    r.choose("small");
    write_Click(*r.form);  // port closed: nothing
    EXPECT_TRUE(r.box.asked.empty());
    command1_Click(*r.form);
    write_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 10'000'000));
    EXPECT_EQ(r.form->Label9.caption, "TRANSMIT OK");
    EXPECT_EQ(r.form->job_no, 0);
    EXPECT_EQ(r.sim.erase_all_count + static_cast<int>(r.sim.erased_blocks.size()), 0);
    EXPECT_EQ(r.sim.id_checks_passed, 0);
    // fblockA keeps its start caption (empty, value 0): block A's pages are skipped.
    EXPECT_EQ(r.sim.written_pages, (std::vector<std::uint32_t>{0x024000}));
    EXPECT_FALSE(r.files.is_open(1));
    // A file with pages in block A only: nothing to send is no success.
    write_file(r.dir.file("a_only.mot"), s2_record(0x000000, data) + "\r\n" + s8_end);
    r.choose("a_only");
    const std::size_t frames_before = r.line.log.size();
    write_Click(*r.form);
    EXPECT_EQ(r.form->Label9.caption, "NO PAGE ERROR");
    EXPECT_EQ(r.line.log.size(), frames_before);
    EXPECT_FALSE(r.files.is_open(1));
}

// ---- lock bits ------------------------------------------------------------------

#include "service/lock_bits.hpp"

TEST(LockBits, SetThenReadShowsTheStatePerBlock) {
    writer_sim::rig r;
    Option1_Click(*r.form);
    for (int n = 1; n <= 9; ++n) r.form->check(n).value = (n == 3 || n == 5);
    command1_Click(*r.form);
    rockbit_set_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 10'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ROCK BIT SET OK");
    EXPECT_EQ(r.form->job_phase, 5);
    EXPECT_EQ(r.sim.locked, (std::array<bool, 7>{true, false, true, false, false, false, false}));

    for (int n = 1; n <= 9; ++n) r.form->check(n).value = (n == 3 || n == 4 || n == 5);
    std::vector<std::string> verdicts;
    r.after_event = [&](writer_sim::rig& g) {
        if (g.form->engine_step == 7 && (verdicts.empty() || verdicts.back() != g.form->Label9.caption + "@" + g.form->Label16.caption))
            verdicts.push_back(g.form->Label9.caption + "@" + g.form->Label16.caption);
    };
    rockbit_read_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 10'000'000));
    EXPECT_EQ(verdicts, (std::vector<std::string>{"ROCK EXISTBLOCK@0", "ROCK NONBLOCK@1", "ROCK EXISTBLOCK@2"}));
    EXPECT_EQ(r.form->Label16.caption, "2");  // the last block's frame
    EXPECT_EQ(frames(r).size(), 2u * 2 + 3u * 2);
}

struct lock_reply_case {
    const char* name;
    void (*click)(main_form&);
    std::vector<fault> faults;
    const char* status;
    int locks_enabled = -1;  // what the writer holds afterwards; -1: not asked
};

class LockReplies : public ::testing::TestWithParam<lock_reply_case> {};

TEST_P(LockReplies, Verdict) {
    writer_sim::rig r;
    Option1_Click(*r.form);
    for (int n = 1; n <= 9; ++n) r.form->check(n).value = (n == 3);
    command1_Click(*r.form);
    r.sim.locks_enabled = GetParam().click == rockbit_non_Click;
    for (const fault& x : GetParam().faults) r.sim.add_fault(x);
    GetParam().click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 10'000'000));
    EXPECT_EQ(r.form->Label9.caption, GetParam().status);
    if (GetParam().locks_enabled >= 0) {
        EXPECT_EQ(r.sim.locks_enabled, GetParam().locks_enabled == 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LockReplies,
    ::testing::Values(
        lock_reply_case{"enable", rockbit_on_Click, {}, "ROCK BIT VALIDITY OK", 1},
        lock_reply_case{"disable", rockbit_non_Click, {}, "ROCK BIT INVALIDITY OK", 0},
        lock_reply_case{"read_ff_is_free", rockbit_read_Click, {{"done:71", 1, fault_kind::replace, {0xFF, 0xFF, 0xD0, 0xD0}}}, "ROCK NONBLOCK"},
        lock_reply_case{"read_bf_is_locked", rockbit_read_Click, {{"done:71", 1, fault_kind::replace, {0xBF, 0xBF, 0xD0, 0xD0}}}, "ROCK EXISTBLOCK"},
        lock_reply_case{"read_bits_differ", rockbit_read_Click, {{"done:71", 1, fault_kind::replace, {0x40, 0x00, 0xD0, 0xD0}}}, "COMMUNICATION ERROR"},
        lock_reply_case{"read_bits_differ_too", rockbit_read_Click, {{"done:71", 1, fault_kind::replace, {0x00, 0x40, 0xD0, 0xD0}}}, "COMMUNICATION ERROR"},
        lock_reply_case{"read_not_done", rockbit_read_Click, {{"done:71", 1, fault_kind::replace, {0xC0, 0xC0, 0xAC, 0xAC}}}, "COMMUNICATION ERROR"},
        lock_reply_case{"read_wrong_echo", rockbit_read_Click, {garbled("echo:71")}, "COMMUNICATION ERROR"},
        lock_reply_case{"set_zero_status_ok", rockbit_set_Click, {{"done:77", 1, fault_kind::replace, {0x00, 0x00, 0xD0, 0xD0}}}, "ROCK BIT SET OK"},
        lock_reply_case{"set_refused", rockbit_set_Click, {{"done:77", 1, fault_kind::replace, {0x80, 0x80, 0xAC, 0xAC}}}, "ROCK BIT ERROR"},
        // Each byte of the verdict counts on its own.
        lock_reply_case{"set_third_byte_wrong", rockbit_set_Click, {{"done:77", 1, fault_kind::replace, {0x80, 0x80, 0xAC, 0xD0}}}, "ROCK BIT ERROR"},
        lock_reply_case{"set_last_byte_wrong", rockbit_set_Click, {{"done:77", 1, fault_kind::replace, {0x80, 0x80, 0xD0, 0xAC}}}, "ROCK BIT ERROR"},
        lock_reply_case{"set_wrong_echo", rockbit_set_Click, {garbled("echo:77")}, "COMMUNICATION ERROR"},
        lock_reply_case{"enable_refused", rockbit_on_Click, {refused("done:7A")}, "ROCK BIT VALIDITY ERROR"},
        lock_reply_case{"enable_garbled", rockbit_on_Click, {garbled("done:7A")}, "COMMUNICATION ERROR"},
        lock_reply_case{"disable_refused", rockbit_non_Click, {refused("done:75")}, "ROCK BIT INVALIDITY ERROR"},
        lock_reply_case{"disable_wrong_echo", rockbit_non_Click, {refused("echo:75")}, "COMMUNICATION ERROR"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(LockBits, NothingSelectedSendsNothing) {
    for (int family : {0, 1, 2}) {
        writer_sim::rig r;
        if (family == 1) {
            Option1_Click(*r.form);
            for (int n = 3; n <= 9; ++n) r.form->check(n).value = 0;  // only Check1, Check2
        }
        if (family == 2) Option2_Click(*r.form);
        command1_Click(*r.form);
        r.form->Label9.caption = "before";
        rockbit_read_Click(*r.form);
        rockbit_set_Click(*r.form);
        r.run_for(100'000);
        EXPECT_TRUE(r.line.log.empty()) << family;
        EXPECT_EQ(r.form->Label9.caption, "before") << family;
    }
}
