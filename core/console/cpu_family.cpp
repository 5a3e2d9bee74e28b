#include "console/cpu_family.hpp"

namespace torvela {

const char* const no_block_text = "   －   ";

const cpu_family m32r_family = {
    "M32R",
    "M32RFLASH",
    "M32RRAM",
    {0x03, 0x21},
    9,
    {"ブロック０00000000-00003FFF", "ブロック１00004000-00005FFF", "ブロック２00006000-00007FFF",
     "ブロック３00008000-0000FFFF", "ブロック４00010000-0001FFFF", "ブロック５00020000-0002FFFF",
     "ブロック６00030000-0003FFFF", "ブロック７00040000-0004FFFF", "ブロック８00050000-0005FFFF"},
    {0, 1, 2, 3, 4, 5, 6, 7, 8},
    {-1, -1, 0, 1, 2, 3, 4, 5, 6},
    {{{0x0000, 0x003F},
      {0x0040, 0x005F},
      {0x0060, 0x007F},
      {0x0080, 0x00FF},
      {0x0100, 0x01FF},
      {0x0200, 0x02FF},
      {0x0300, 0x03FF},
      {0x0400, 0x04FF},
      {0x0500, 0x05FF}}},
    0x0000,
    2,  // 000000-05FFFF is stored from 020000 on
    0,  // bytes 084-093 of image page 0
    {0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x91, 0x92, 0x93},
    16,
    "84000010",
    32,
    16,
};

const cpu_family m16c_family = {
    "M16C",
    "M16CFLASH",
    "M16CRAM",
    {0x01, 0x6C},
    7,
    {"ブロック６0C0000-0CFFFF", "ブロック５0D0000-0DFFFF", "ブロック４0E0000-0EFFFF", "ブロック３0F0000-0F7FFF",
     "ブロック２0F8000-0F9FFF", "ブロック１0FA000-0FBFFF", "ブロック０0FC000-0FFFFF", no_block_text, no_block_text},
    // Its map runs from the top block down; the boxes past ブロック０ stand
    // for nothing.
    {6, 5, 4, 3, 2, 1, 0, -1, -1},
    // The codes go with the boxes, whichever map labels them.
    {-1, -1, 0, 1, 2, 3, 4, 5, 6},
    {{{0x0C00, 0x0CFF},
      {0x0D00, 0x0DFF},
      {0x0E00, 0x0EFF},
      {0x0F00, 0x0F7F},
      {0x0F80, 0x0F9F},
      {0x0FA0, 0x0FBF},
      {0x0FC0, 0x0FFF},
      {0, 0},
      {0, 0}}},
    0x0C00,
    -10,  // 0C0000-0FFFFF is stored from 020000 on
    0x3FF,  // FFFDF, FFFE3, FFFEB, FFFEF, FFFF3, FFFF7, FFFFB
    {0xDF, 0xE3, 0xEB, 0xEF, 0xF3, 0xF7, 0xFB},
    7,
    "DFFF0F07",
    14,
    14,
};

namespace {
constexpr const cpu_family* families[] = {&m32r_family, &m16c_family};
}

int cpu_family::block_of_page(std::uint16_t page) const {
    for (int i = 0; i < blocks; ++i) {
        const page_range& r = block_pages[static_cast<std::size_t>(i)];
        if (page >= r.first && page <= r.last) return i;
    }
    return -1;
}

std::string block_label::text() const {
    static const char* const digits[] = {"０", "１", "２", "３", "４", "５", "６", "７", "８"};
    if (!is_block() || number > 8) return no_block_text;
    return std::string("ブロック") + digits[number];
}

int check_box_of(block_label b) {
    if (!b.is_block()) return 0;
    for (std::size_t i = 0; i < b.family->box_label.size(); ++i)
        if (b.family->box_label[i] == b.number) return static_cast<int>(i) + 1;
    return 0;
}

int writer_code_of(block_label b) {
    const int box = check_box_of(b);
    return box == 0 ? -1 : b.family->box_code[static_cast<std::size_t>(box - 1)];
}

block_label label_of_box(const cpu_family& family, int box) {
    if (box < 1 || box > 9) return {&family, -1};
    return {&family, family.box_label[static_cast<std::size_t>(box - 1)]};
}

block_label label_of_code(const cpu_family& family, int code) {
    for (std::size_t i = 0; i < family.box_code.size(); ++i)
        if (code >= 0 && family.box_code[i] == code) return label_of_box(family, static_cast<int>(i) + 1);
    return {&family, -1};
}

std::uint16_t cpu_family::store_page(std::uint16_t image_page) const {
    return static_cast<std::uint16_t>(image_page + store_shift * 0x100);
}

std::uint16_t cpu_family::image_page(std::uint16_t store_page) const {
    return static_cast<std::uint16_t>(store_page - store_shift * 0x100);
}

const cpu_family* family_of_code(std::uint8_t b0, std::uint8_t b1) {
    for (const cpu_family* c : families)
        if (c->code[0] == b0 && c->code[1] == b1) return c;
    return nullptr;
}

const cpu_family* family_named(std::string_view text) {
    for (const cpu_family* c : families)
        if (text == c->name || text == c->flash_name || text == c->ram_name) return c;
    return nullptr;
}

const cpu_family* family_called(std::string_view text) {
    for (const cpu_family* c : families)
        if (text == c->name) return c;
    return nullptr;
}

const cpu_family* flash_family(std::string_view text) {
    for (const cpu_family* c : families)
        if (text == c->flash_name) return c;
    return nullptr;
}

}  // namespace torvela
