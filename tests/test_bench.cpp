// The service bench's own operations against the simulated writer: the
// backup that leaves the writer as it was, the ROM image read back and
// written again, the writer's unit recognised from the history, every
// differing byte named, the block numberings, the lock bit read's blocks,
// and the refusals that say why.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "memories/memories.hpp"
#include "platform/job_history.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/lock_bits.hpp"
#include "service/look.hpp"
#include "service/write_count.hpp"
#include "support.hpp"
#include "window/script_setup.hpp"

using namespace torvela;
using namespace test_support;

namespace {

// A writer holding a unit, recording into a history of its own.
struct bench_rig : unit_rig {
    private_work_folder data;
    job_history history{path_from_utf8(data.file("torvela"))};
    explicit bench_rig(unsigned seed = 7) : unit_rig(seed) {
        form->history = &history;
        form->program = "test";
    }
    // The family's map chosen and only these blocks ticked, as --m32r
    // --blocks 2,3 sets them.
    void choose_blocks(cpu_choice family, std::set<int> labels) {
        script_choices c;
        c.family = family;
        c.blocks = std::move(labels);
        set_up_form(*form, c);
    }
    std::string read_rom(const std::string& name) {
        const std::string file = dir.file(name);
        EXPECT_EQ(check_operation_file(*form, file_use::rom_output, file, rom_filter::store), "");
        start_rom_read(*form);
        EXPECT_TRUE(run_job());
        return file;
    }
    void transmit_rom(const std::string& file) {
        choose_path(file);
        flashall_write_Click(*form);
        EXPECT_TRUE(run_job(3'600'000'000));
        EXPECT_EQ(form->Label9.caption, "ROM DATA TRANSMIT COMPLETE");
    }
};

// A memories file of the rig's unit with bytes changed: {page, offset, value}.
std::string changed_memories(const unit_rig& r, std::vector<std::array<int, 3>> changes) {
    std::array<std::uint8_t, 0x8000> area = r.area;
    for (const auto& [page, offset, value] : changes) area[static_cast<std::size_t>(page * 256 + offset)] = static_cast<std::uint8_t>(value);
    return memories_file_text(version_bytes, area.data());
}

}  // namespace

// ---- the backup ----------------------------------------------------------------

// The save's read and verify, through the save's own file path, and no
// erase: the file is the save's, the writer holds the unit afterwards (a
// compare of the file with it says so), the unit is kept and recorded. A
// failed backup leaves neither a file nor a changed writer.
TEST(Backup, TheWriterKeepsItsUnit) {
    const struct {
        const char* name;
        std::vector<writer_sim::fault> faults;
        const char* status;
        const char* detail;
    } table[] = {
        {"whole", {}, "BACKUP MEMORIES TO FILE COMPLETE", ""},
        {"a page never comes", {silent("page:014000")}, "COMMUNICATION ERROR",
         "nothing was erased: the writer is as it was, and "},
        {"the verify finds the page changed twice", {corrupted("page:010700", 2), corrupted("page:010700", 3)},
         "VERIFY ERROR", "nothing was erased: the writer is as it was, and "},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        bench_rig r;
        for (const auto& fault : row.faults) r.sim.add_fault(fault);
        r.choose_path(r.path);
        backup_memories_Click(*r.form);
        EXPECT_EQ(r.box.asked, (std::vector<std::string>{"TORVELA|OK TO BACKUP MEMORIES TO FILE?"}));
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, row.status);
        EXPECT_TRUE(r.sim.erased_blocks.empty());
        EXPECT_EQ(r.sim.erase_all_count, 0);
        EXPECT_TRUE(r.writer_holds_memories());
        const auto records = r.history.read().records;
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].operation, "backup memories to file");
        if (*row.detail) {
            EXPECT_NE(r.form->detail.find(row.detail + r.path + " was not created"), std::string::npos) << r.form->detail;
            EXPECT_FALSE(exists(r.path));
            EXPECT_TRUE(records[0].kept.empty());
            continue;
        }
        EXPECT_EQ(r.status_history().front(), "START TO BACKUP MEMORIES TO FILE");
        EXPECT_TRUE(read_file(r.path) == r.memories());
        EXPECT_EQ(records[0].unit_sha256, unit_sha256(r.memories()));
        ASSERT_FALSE(records[0].kept.empty());
        EXPECT_TRUE(read_file(records[0].kept) == r.memories());
        // What runs after it: the writer still holds what the file holds.
        r.choose_path(r.path);
        start_memories_compare(*r.form);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, "COMPARE MEMORIES OK");
    }
}

// A backup never replaces saved memories: it is refused before anything
// is sent, with the reason.
TEST(Backup, NeverIntoSavedMemories) {
    bench_rig r;
    r.choose(r.memories());
    backup_memories_Click(*r.form);
    EXPECT_EQ(r.form->Label9.caption, "FILE OPEN ERROR");
    EXPECT_NE(r.form->detail.find("holds saved memories"), std::string::npos);
    EXPECT_TRUE(sent(r).empty());
    EXPECT_TRUE(r.box.asked.empty());
    EXPECT_TRUE(read_file(r.path) == r.memories());
}

// ---- the ROM image read back ---------------------------------------------------

// An image transmitted, read back, and the file read transmitted into a
// blank writer: the two stores are the same byte for byte, the read sent
// no write or erase, and the file holds only the pages that hold data.
TEST(ReadRom, TransmittedIntoABlankWriterGivesTheSameStore) {
    const struct {
        const char* name;
        cpu_choice family;
        std::vector<std::pair<std::uint32_t, std::size_t>> parts;  // image address, size
        int pages_with_data;
    } table[] = {
        {"M32R", cpu_choice::m32r, {{0x8000, 0x1000}, {0x20010, 0x800}, {0x5FF00, 0x100}}, 16 + 9 + 1},
        {"M16C", cpu_choice::m16c, {{0x0E0000, 0x900}, {0x0F8000, 0x40}, {0x0FFF00, 0x100}}, 9 + 1 + 1},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        bench_rig a, b;
        a.sim.store.fill(0xFF);
        b.sim.store.fill(0xFF);
        std::string text = "S0030000FC\r\n";
        for (const auto& [base, size] : row.parts) {
            const std::string bytes = random_bytes(size, base);
            for (std::size_t at = 0; at < size; at += 32)
                text += s2_record(base + static_cast<std::uint32_t>(at),
                                  std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                            bytes.begin() + static_cast<std::ptrdiff_t>(at + 32))) +
                        "\r\n";
        }
        write_file(a.dir.file("image.mot"), text + s8_end);
        a.transmit_rom(a.dir.file("image.mot"));
        const auto held = a.sim.store;
        const int written = a.sim.pages_written;
        a.choose_blocks(row.family, {});
        a.form->Check1.value = a.form->Check2.value = 1;  // every block of the map
        for (int n = 3; n <= 9; ++n) a.form->check(n).value = 1;
        const std::string back = a.read_rom("read back.mot");
        EXPECT_EQ(a.form->Label9.caption, "READ ROM DATA COMPLETE");
        EXPECT_TRUE(a.sim.store == held);
        EXPECT_EQ(a.sim.pages_written, written);
        const std::string lines = read_file(back);
        EXPECT_EQ(static_cast<int>(std::count(lines.begin(), lines.end(), '\n')), 2 + 8 * row.pages_with_data);
        b.transmit_rom(back);
        EXPECT_TRUE(b.sim.store == held);
    }
}

// Each block as the window labels it is read from its own store pages: the
// M16C map runs downwards from ブロック６ at the store's image start, its
// small blocks 3 to 0 at the top; the M32R map upwards from ブロック０.
TEST(ReadRom, EachBlockReadsItsOwnStorePages) {
    const struct {
        cpu_choice family;
        int label;
        std::uint32_t first, last;  // store pages
    } table[] = {
        {cpu_choice::m32r, 0, 0x020000, 0x023F00}, {cpu_choice::m32r, 1, 0x024000, 0x025F00},
        {cpu_choice::m32r, 2, 0x026000, 0x027F00}, {cpu_choice::m32r, 3, 0x028000, 0x02FF00},
        {cpu_choice::m32r, 4, 0x030000, 0x03FF00}, {cpu_choice::m32r, 5, 0x040000, 0x04FF00},
        {cpu_choice::m32r, 6, 0x050000, 0x05FF00}, {cpu_choice::m32r, 7, 0x060000, 0x06FF00},
        {cpu_choice::m32r, 8, 0x070000, 0x07FF00}, {cpu_choice::m16c, 6, 0x020000, 0x02FF00},
        {cpu_choice::m16c, 5, 0x030000, 0x03FF00}, {cpu_choice::m16c, 4, 0x040000, 0x04FF00},
        {cpu_choice::m16c, 3, 0x050000, 0x057F00}, {cpu_choice::m16c, 2, 0x058000, 0x059F00},
        {cpu_choice::m16c, 1, 0x05A000, 0x05BF00}, {cpu_choice::m16c, 0, 0x05C000, 0x05FF00},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.family == cpu_choice::m16c ? "M16C" : "M32R") + " block " + std::to_string(row.label));
        bench_rig r;
        r.choose_blocks(row.family, {row.label});
        r.read_rom("block.mot");
        EXPECT_EQ(r.form->Label9.caption, "READ ROM DATA COMPLETE");
        ASSERT_FALSE(r.sim.read_pages.empty());
        EXPECT_EQ(r.sim.read_pages.front(), row.first);
        EXPECT_EQ(r.sim.read_pages.back(), row.last);
        EXPECT_EQ(r.sim.read_pages.size(), (row.last - row.first) / 256 + 1);
    }
}

// What read-rom cannot read back itself it does not replace: saved
// memories and other files stay as they were, and nothing is sent.
TEST(ReadRom, ReplacesOnlyWhatItReads) {
    bench_rig r;
    r.choose_blocks(cpu_choice::m32r, {3});
    const struct {
        const char* name;
        std::string content;
        const char* refused;  // empty: taken
    } table[] = {
        {"saved memories", r.memories(), "holds saved memories"},
        {"a note", "the unit's customer called\r\n", "is no ROM data file the tool reads"},
        {"an empty file", "", ""},
        {"an earlier image", "S0030000FC\r\n" + s2_record(0x8000, {1, 2, 3}) + "\r\n" + s8_end, ""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const std::string file = r.dir.file("out.mot");
        write_file(file, row.content);
        const std::string why = check_operation_file(*r.form, file_use::rom_output, file, rom_filter::store);
        if (*row.refused) {
            EXPECT_NE(why.find(row.refused), std::string::npos) << why;
            EXPECT_TRUE(read_file(file) == row.content);
        } else {
            EXPECT_EQ(why, "");
        }
    }
    EXPECT_TRUE(sent(r).empty());
}

// The chosen name taken by a folder while the writer is read: nothing is
// replaced, the image read is kept beside it and named, the writer was
// only read.
TEST(ReadRom, AReadThatCannotReplaceTheFileKeepsTheImage) {
    bench_rig r;
    r.choose_blocks(cpu_choice::m32r, {2});
    const std::string file = r.dir.file("out.mot");
    ASSERT_EQ(check_operation_file(*r.form, file_use::rom_output, file, rom_filter::store), "");
    start_rom_read(*r.form);
    std::filesystem::create_directory(path_from_utf8(file));
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "FILE SAVE ERROR");
    const std::string kept = r.form->save.kept_copy();
    ASSERT_FALSE(kept.empty());
    EXPECT_NE(r.form->detail.find("the image read is in " + kept), std::string::npos) << r.form->detail;
    EXPECT_NE(r.form->detail.find("nothing was erased or written on it"), std::string::npos) << r.form->detail;
    EXPECT_EQ(read_file(kept).rfind("S0030000FC\r\n", 0), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(path_from_utf8(file)));
    EXPECT_EQ(r.sim.pages_written, 0);
}

// ---- the unit recognised -------------------------------------------------------

// info reads the whole memories area, and names the jobs of this bench that
// left the same unit in a file, under whatever name; a writer holding a
// unit never seen is said to be one.
TEST(Info, NamesTheFilesThatHoldTheWritersUnit) {
    bench_rig r;
    const std::string before = r.dir.file("before repair.dat");
    r.choose_path(before);
    backup_memories_Click(*r.form);
    ASSERT_TRUE(r.run_job());
    // The write counts as the writer keeps them: both words read.
    std::copy_n(std::begin({0x00, 0x05, 0x01, 0x02}), 4, r.sim.store.begin() + 0x400);
    std::copy_n(std::begin({0x00, 0x00, 0x3F, 0xFF}), 4, r.sim.store.begin() + 0x700);
    start_writer_info(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "WRITER INFORMATION COMPLETE");
    ASSERT_EQ(r.form->look.unit_seen.size(), 1u);
    EXPECT_EQ(r.form->look.unit_seen[0].file, before);
    EXPECT_EQ(r.form->look.unit_seen[0].operation, "backup memories to file");
    EXPECT_TRUE(read_file(r.form->look.unit_seen[0].kept) == r.memories());
    EXPECT_EQ(r.form->look.unit_sha256, unit_sha256(r.memories()));
    const auto records = r.history.read().records;
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].write_counts, "5/276");
    EXPECT_EQ(records[1].unit_sha256, unit_sha256(r.memories()));

    // Another unit on the same bench: none holds it.
    bench_rig other(8);
    other.form->history = &r.history;
    start_writer_info(*other.form);
    ASSERT_TRUE(other.run_job());
    EXPECT_TRUE(other.form->look.unit_seen.empty());
    EXPECT_NE(other.form->look.unit_note.find("no job recorded on this bench holds this unit"), std::string::npos);
}

// ---- every differing byte ------------------------------------------------------

// Three bytes differ in one page and one in another: each page names its
// count, runs, both sides' bytes and the bits changed; the detail the
// total.
TEST(Compare, NamesEveryDifferingByte) {
    bench_rig r;
    auto at = [&](int page, int offset) { return r.area[static_cast<std::size_t>(page * 256 + offset)]; };
    r.choose(changed_memories(r, {{5, 0x10, at(5, 0x10) ^ 0x01},
                                  {5, 0x20, at(5, 0x20) ^ 0x40},
                                  {5, 0x21, at(5, 0x21) ^ 0x80},
                                  {9, 0xFF, at(9, 0xFF) ^ 0xFF}}));
    start_memories_compare(*r.form);
    ASSERT_TRUE(r.run_job());
    EXPECT_EQ(r.form->Label9.caption, "COMPARE MEMORIES DIFFERENT");
    const auto& d = r.form->look.differences;
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].where, "00000500");
    EXPECT_EQ(d[0].bytes, 3);
    EXPECT_EQ(d[0].runs, "10, 20-21");
    EXPECT_EQ(d[0].bits, "01 40 80");
    EXPECT_EQ(d[0].writer_bytes, hex2(at(5, 0x10)) + " " + hex2(at(5, 0x20)) + " " + hex2(at(5, 0x21)));
    EXPECT_EQ(d[1].where, "00000900");
    EXPECT_EQ(d[1].bytes, 1);
    EXPECT_EQ(d[1].runs, "FF");
    EXPECT_EQ(d[1].bits, "FF");
    EXPECT_EQ(r.form->detail.rfind("4 bytes in 2 of 128 memories pages differ", 0), 0u) << r.form->detail;
    EXPECT_TRUE(r.writer_holds_memories());
}

// A ROM verify that finds a page changed names every byte of it.
TEST(Verify, NamesEveryDifferingByteOfThePage) {
    bench_rig r;
    const std::string image = random_bytes(0x200, 4);
    r.choose_path(r.rom_file(image, "image"));
    std::copy(image.begin(), image.end(), r.sim.store.begin() + 0x20000);
    r.sim.store[0x20105] ^= 0x04;
    r.sim.store[0x20106] ^= 0x04;
    r.sim.store[0x201F0] ^= 0x10;
    command1_Click(*r.form);
    verify_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0 && r.form->job_no == 0; }, 60'000'000));
    EXPECT_EQ(r.form->Label9.caption, "VERIFY ERROR");
    EXPECT_NE(r.form->detail.find("page 020100: 3 bytes differ (05-06, F0)"), std::string::npos) << r.form->detail;
    EXPECT_NE(r.form->detail.find("(bits 04 04 10)"), std::string::npos) << r.form->detail;
}

// ---- one numbering of blocks ---------------------------------------------------

// Every label of both maps to its check box and the writer's code, from a
// table written here apart from the tool's; the caption beside the box
// names the same block, and the code goes back to the label.
TEST(BlockNumbering, EveryLabelOfBothMaps) {
    const struct {
        const cpu_family* family;
        int label, box, code;
    } table[] = {
        {&m32r_family, 0, 1, -1}, {&m32r_family, 1, 2, -1}, {&m32r_family, 2, 3, 0}, {&m32r_family, 3, 4, 1},
        {&m32r_family, 4, 5, 2},  {&m32r_family, 5, 6, 3},  {&m32r_family, 6, 7, 4}, {&m32r_family, 7, 8, 5},
        {&m32r_family, 8, 9, 6},  {&m16c_family, 6, 1, -1}, {&m16c_family, 5, 2, -1}, {&m16c_family, 4, 3, 0},
        {&m16c_family, 3, 4, 1},  {&m16c_family, 2, 5, 2},  {&m16c_family, 1, 6, 3}, {&m16c_family, 0, 7, 4},
        {&m16c_family, 7, 0, -1}, {&m16c_family, 8, 0, -1},
    };
    for (const auto& row : table) {
        const block_label label{row.family, row.label};
        SCOPED_TRACE(std::string(row.family->name) + " " + label.text());
        EXPECT_EQ(check_box_of(label), row.box);
        EXPECT_EQ(writer_code_of(label), row.code);
        if (row.box == 0) continue;
        EXPECT_EQ(label_of_box(*row.family, row.box).number, row.label);
        EXPECT_EQ(std::string(row.family->block_captions[static_cast<std::size_t>(row.box - 1)]).rfind(label.text(), 0), 0u);
        if (row.code >= 0) {
            EXPECT_EQ(label_of_code(*row.family, row.code).number, row.label);
        }
    }
}

// A block erase of each M32R label sends that label's code, and the trace
// names the block by its label.
TEST(BlockNumbering, AnEraseSendsTheLabelsCode) {
    for (int label = 2; label <= 8; ++label) {
        SCOPED_TRACE(label);
        bench_rig r;
        r.choose_blocks(cpu_choice::m32r, {label});
        command1_Click(*r.form);
        block_erase_Click(*r.form);
        ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 20'000'000));
        EXPECT_EQ(r.form->Label9.caption, "BLOCK ERASE OK");
        EXPECT_EQ(r.sim.erased_blocks, std::vector<int>{label - 2});
    }
}

// A block write of one M16C block writes its pages at that block's store
// pages and no others, and begins with its own status.
TEST(BlockNumbering, AnM16CBlockWriteStaysInItsBlock) {
    bench_rig r;
    r.sim.store.fill(0xFF);
    const std::string image = random_bytes(0x40000, 12);  // 0C0000-0FFFFF, the whole map
    r.choose_path(r.rom_file(image, "m16c", 0x0C0000));
    r.choose_blocks(cpu_choice::m16c, {});
    r.dlg.on_block_form = [](main_form& f, block_form& dlg) { answer_block_form(f, dlg, std::set<int>{2}); };
    flashblock_write_Click(*r.form);
    ASSERT_TRUE(r.run_job(3'600'000'000));
    EXPECT_EQ(r.form->Label9.caption, "ROM WRITER BLOCK WRITE COMPLETE");
    EXPECT_EQ(r.status_history().front(), "ROM WRITER BLOCK WRITE START");
    std::vector<std::uint32_t> image_pages;
    for (const std::uint32_t at : r.sim.written_pages)
        if (at >= 0x20000) image_pages.push_back(at);
    ASSERT_EQ(image_pages.size(), 0x20u);  // ブロック２, 0F8000-0F9FFF
    EXPECT_EQ(image_pages.front(), 0x058000u);
    EXPECT_EQ(image_pages.back(), 0x059F00u);
    EXPECT_TRUE(store_equals(r.sim, 0x58000, image.substr(0x38000, 0x2000)));
    // Its erase went by the boxes: the two the M16C map labels no block are
    // named by the code they sent.
    EXPECT_EQ(r.sim.erased_blocks, (std::vector<int>{0, 2, 3, 4, 5, 6}));
    EXPECT_EQ(block_named(*r.form, 3), "ブロック４");
    EXPECT_EQ(block_named(*r.form, 8), "the writer's block 5");
}

// ---- the lock bit read and the refusals ----------------------------------------

// Each block read is named with what the writer said of it.
TEST(LockRead, NamesEachBlock) {
    bench_rig r;
    r.sim.locked[3] = true;  // ブロック５
    r.choose_blocks(cpu_choice::m32r, {3, 5});
    command1_Click(*r.form);
    rockbit_read_Click(*r.form);
    ASSERT_TRUE(r.run_until([&] { return r.form->engine_step == 0; }, 20'000'000));
    ASSERT_EQ(r.form->lock_reads.size(), 2u);
    EXPECT_EQ(r.form->lock_reads[0].block, "ブロック３");
    EXPECT_FALSE(r.form->lock_reads[0].locked);
    EXPECT_EQ(r.form->lock_reads[1].block, "ブロック５");
    EXPECT_TRUE(r.form->lock_reads[1].locked);
    EXPECT_EQ(r.form->Label9.caption, "ROCK EXISTBLOCK");
}

// A writer version up of a file whose ID code is not the writer program's,
// in any of its sixteen bytes (the last four too), is refused before
// anything is sent, with the reason; the program's own ID is taken.
TEST(VersionUp, RefusesAFileThatIsNoWriterProgramAndSaysWhy) {
    for (int changed = -1; changed < 16; ++changed) {
        SCOPED_TRACE(changed);
        bench_rig r;
        std::string program = random_bytes(0x1800, 5);
        std::copy(protocol::writer_program_id.begin(), protocol::writer_program_id.end(), program.begin() + 0x84);
        if (changed >= 0) program[0x84 + static_cast<std::size_t>(changed)] ^= 0x11;
        const std::string file = r.rom_file(program, "writer");
        r.dlg.files.push_back(file);  // as the command line answers SELECT FILE
        const std::string why = check_operation_file(*r.form, file_use::rom_data, file, rom_filter::own);
        if (changed < 0) {
            EXPECT_EQ(why, "");
            continue;
        }
        EXPECT_NE(why.find("is no writer program: the ID code its image carries reads"), std::string::npos) << why;
        writer_versionup_Click(*r.form);
        ASSERT_TRUE(r.run_job());
        EXPECT_EQ(r.form->Label9.caption, "WRITER-ID ERROR");
        EXPECT_NE(r.form->detail.find("is no writer program"), std::string::npos);
        EXPECT_EQ(r.sim.program_pages_written, 0);
        EXPECT_EQ(r.sim.id_checks_passed, 0);
    }
}
