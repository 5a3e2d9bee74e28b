// The writer's protocol values: every code the tool sends or expects, with
// what the writer does with it. No protocol byte is written anywhere else
// than here and in the frame builders.
#pragma once

#include <array>
#include <cstdint>

namespace torvela::protocol {

// ---- two-byte commands (the code sent twice) --------------------------------
// The writer echoes an accepted command; a command that works on the flash
// then waits for `go_ahead` and answers `done` (or `refused`).
inline constexpr std::uint8_t erase_all = 0xA7;     // erase every block of the flash
inline constexpr std::uint8_t block_erase = 0x20;   // erase the block of the following block frame
inline constexpr std::uint8_t lock_set = 0x77;      // set the lock bit of the following block frame
inline constexpr std::uint8_t lock_read = 0x71;     // answer the lock state of the following block frame
inline constexpr std::uint8_t lock_enable = 0x7A;   // make the lock bits effective
inline constexpr std::uint8_t lock_disable = 0x75;  // make the lock bits ineffective
// The same code, sent by the memories jobs, asks the writer to check that the
// target's CPU type is the one its store holds.
inline constexpr std::uint8_t cpu_type_check = 0x75;
inline constexpr std::uint8_t switch_operation = 0x25;  // arm the writer's front switch
inline constexpr std::uint8_t target_write = 0xC5;      // copy the store into the target unit
inline constexpr std::uint8_t writer_id = 0xF5;         // the writer-ID frame follows
inline constexpr std::uint8_t page_read = 0xFF;         // an address frame follows; the page comes back
inline constexpr std::uint8_t page_write = 0x41;        // an address frame and 256 bytes follow
inline constexpr std::uint8_t go_ahead = 0xD0;          // carry out the command just echoed

// ---- verdicts (two bytes, the code twice) -------------------------------------
inline constexpr std::uint8_t done = 0xD0;     // the command was carried out
inline constexpr std::uint8_t refused = 0xAC;  // the writer's installer refused the command

// The lock-bit answers: four bytes, two status bytes and `done` twice. Bit 6
// of both status bytes set: the block is not locked; clear: locked.
inline constexpr std::uint8_t lock_free_bit = 0x40;

// ---- frames -----------------------------------------------------------------
// The block frame: `block_frame_mark`, the block code 0..6, two zero bytes.
inline constexpr std::uint8_t block_frame_mark = 0xD8;
// The address frame's first byte: what the page exchange does with the page.
inline constexpr std::uint8_t address_write = 2;    // the page is written (memories, plain pages)
inline constexpr std::uint8_t address_read = 3;     // the page comes back
inline constexpr std::uint8_t address_program = 0;  // the page goes to the writer's own program
// The writer-ID frame: its mark, the code's length, the code, a zero byte.
inline constexpr std::array<std::uint8_t, 2> writer_id_mark = {0xDF, 0xFF};

// The writer ID code presented after F5 F5 (seven bytes, first byte first).
inline constexpr std::array<std::uint8_t, 7> writer_id_code = {0x54, 0x4F, 0x52, 0x56, 0x45, 0x4C, 0x41};

// The ID a writer program file carries at 000084-000093 (as its ROM data
// conversion extracts it); the writer version up loads no other file.
inline constexpr std::array<std::uint8_t, 16> writer_program_id = {
    0x57, 0x52, 0x49, 0x54, 0x45, 0x52, 0x50, 0x52, 0x4F, 0x47, 0x52, 0x41, 0x4D, 0x30, 0x30, 0x31};

// ---- the store's pages (address bytes 1 and 2) -------------------------------
struct page_address {
    std::uint8_t high, mid;
};
inline constexpr page_address cpu_page = {0x00, 0x00};       // the CPU code of the stored program
inline constexpr page_address installer_page = {0x00, 0x06}; // FF first: the writer is in installer mode
inline constexpr page_address version_page = {0x00, 0x0A};   // the machine version text
inline constexpr page_address memories_first = {0x01, 0x00}; // the memories area: 01 00 to 01 7F
inline constexpr std::uint8_t memories_last_mid = 0x7F;
// The write counts: two pages of the writer's own area, read one after the other.
inline constexpr page_address count_page_a = {0x00, 0x04};
inline constexpr page_address count_page_b = {0x00, 0x07};
inline constexpr std::uint8_t empty_byte = 0xFF;             // an erased byte; FF FF: no data
// (The CPU codes, the first two bytes of the CPU page, are each family's:
// console/cpu_family.)

}  // namespace torvela::protocol
