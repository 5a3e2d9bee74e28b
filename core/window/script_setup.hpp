// What a script sets on the form and checks before it presses a button,
// as an operator would in the window: the port, the CPU family, the ticked
// blocks, the write-count limit and the previous ID; and the file the
// operation takes, refused before anything is sent.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "console/main_form.hpp"

namespace torvela {

struct block_form;

enum class cpu_choice { none, m32r, m16c };
struct script_choices {
    std::optional<int> com;               // COMn
    cpu_choice family = cpu_choice::none;  // Option1, Option2
    std::optional<std::set<int>> blocks;  // the blocks as the window labels them: ブロックN
    std::string limit;                    // Combo3's text
    std::optional<std::string> id;        // the previous ID (ticks privious_id_match)
};
void set_up_form(main_form& f, const script_choices& c);
// The map a script's block labels are read in (M32R when none is chosen).
const cpu_family& family_of(cpu_choice family);
// Why the blocks chosen cannot go to the writer by a block erase or a lock
// bit command, an empty text when they can: the writer is sent no code for
// M32R's ブロック０ and ブロック１, nor any block of the M16C map.
std::string blocks_never_sent(cpu_choice family, const std::set<int>& labels);
// The blocks a block erase or lock bit command will send, as the window
// labels them with their ranges, or "none".
std::string blocks_to_send(const main_form& f);
// The block dialog answered as an operator would: the boxes of the blocks
// `labels` names ticked (in the map of the chosen image), then OK.
void answer_block_form(main_form& f, block_form& dlg, const std::optional<std::set<int>>& labels);
// What an operation's file is.
enum class file_use {
    none,
    memories_save,  // a save target: new, or a file that may be replaced
    memories_file,  // a memories file (checked as TRANSMIT MEMORIES checks it)
    rom_data,       // a ROM data file (converted as the job converts it)
    any_file,       // any readable file (the window's chosen file)
    rom_output,     // a file a ROM image is read into: new, empty, or a ROM data file the tool reads
};
enum class rom_filter { store, own };  // which block filter converts ROM data
// Chooses `file` as SELECT FILE does, and why the operation cannot use it
// (an empty text when it can).
std::string check_operation_file(main_form& f, file_use use, const std::string& file, rom_filter filter);

}  // namespace torvela
