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

enum class cpu_choice { none, m32r, m16c };
struct script_choices {
    std::optional<int> com;               // COMn
    cpu_choice family = cpu_choice::none;  // Option1, Option2
    std::optional<std::set<int>> blocks;  // Check1..Check9 ticked
    std::string limit;                    // Combo3's text
    std::optional<std::string> id;        // the previous ID (ticks privious_id_match)
};
void set_up_form(main_form& f, const script_choices& c);
// The blocks ticked now, as "3,4", or "none".
std::string ticked_blocks(main_form& f);

// What an operation's file is.
enum class file_use {
    none,
    memories_save,  // a save target: new, or a file that may be replaced
    memories_file,  // a memories file (checked as TRANSMIT MEMORIES checks it)
    rom_data,       // a ROM data file (converted as the job converts it)
    any_file,       // any readable file (the window's chosen file)
};
enum class rom_filter { store, own };  // which block filter converts ROM data
// Chooses `file` as SELECT FILE does, and why the operation cannot use it
// (an empty text when it can).
std::string check_operation_file(main_form& f, file_use use, const std::string& file, rom_filter filter);

}  // namespace torvela
