// The two CPU families the writer programs: one descriptor each, from which
// the family's texts, CPU code, block captions and block map are taken.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvela {

struct cpu_family {
    // Label2 after a CPU page read, and the CPU line of a memories file.
    const char* name;
    // Label2 after a ROM data conversion: the image's flash, or RAM.
    const char* flash_name;
    const char* ram_name;
    // The first two bytes of the writer's CPU page.
    std::array<std::uint8_t, 2> code;
    // Beside Check1..Check9 and in the block dialog, in box order; the boxes
    // past `blocks` stand for no block.
    int blocks;
    std::array<const char*, 9> block_captions;
    // A block's numberings, per check box (Check1..Check9, the block
    // dialog's boxes in the same order): the N of the label ブロックN beside
    // it, and the code the writer is sent for it (its block_select element
    // less 2); -1 where the box stands for no block or no code.
    std::array<std::int8_t, 9> box_label;
    std::array<std::int8_t, 9> box_code;
    // The image pages (address bits 8-23) each box's block holds.
    struct page_range {
        std::uint16_t first, last;
    };
    std::array<page_range, 9> block_pages;
    // Where the family's image pages begin (address bits 8-23): an S-record
    // whose first page lies below m16c's `first_image_page` is M32R.
    std::uint16_t first_image_page;
    // The image page's address byte 1 plus this is where the writer's store
    // keeps it.
    int store_shift;
    // Where a ROM image keeps its ID code: the page of the conversion's
    // table (image pages from `first_image_page` on) and its bytes there.
    std::uint16_t id_table_page;
    std::array<std::uint8_t, 16> id_bytes;
    std::size_t id_byte_count;
    // The control file's ID descriptor: this head, then the ID code's first
    // `id_digits` digits, the first `id_typed` of which the previous ID
    // typed by the operator may replace.
    const char* id_head;
    std::size_t id_digits, id_typed;

    // The box (0-based) whose block holds the image page, or -1 for a page
    // in no block.
    int block_of_page(std::uint16_t page) const;
    // Where the writer's store keeps an image page (address bits 8-23), and
    // the image page a store page holds: the high byte moved by store_shift.
    std::uint16_t store_page(std::uint16_t image_page) const;
    std::uint16_t image_page(std::uint16_t store_page) const;
};

extern const cpu_family m32r_family;
extern const cpu_family m16c_family;

// A block as the window labels it: ブロックN of a family's map. Every front
// end, the dry run, the notes and the history name a block this way; the
// check box and the writer's code are taken from it here, and only here.
struct block_label {
    const cpu_family* family = nullptr;
    int number = -1;  // the N of ブロックN; -1: no block
    bool is_block() const { return family && number >= 0; }
    // "ブロック３" (full-width digit), or the dash of a box with no block.
    std::string text() const;
};
// The check box (1..9) beside the label, or 0 where its map has none.
int check_box_of(block_label b);
// The code the writer is sent for the block, or -1 when it has none.
int writer_code_of(block_label b);
// The label beside check box `box` (1..9), and the block of a writer's code.
block_label label_of_box(const cpu_family& family, int box);
block_label label_of_code(const cpu_family& family, int code);

// The family whose CPU page starts with these bytes, or null.
const cpu_family* family_of_code(std::uint8_t b0, std::uint8_t b1);
// The family a Label2 text names (any of its three names), or null.
const cpu_family* family_named(std::string_view text);
// The family whose CPU line is this text ("M32R", "M16C"), or null.
const cpu_family* family_called(std::string_view text);
// The family of a ROM image's flash (Label2 "M32RFLASH" or "M16CFLASH"), or null.
const cpu_family* flash_family(std::string_view text);

// The full-width dash shown beside a check box that stands for no block.
extern const char* const no_block_text;

}  // namespace torvela
