// Every text the status line ends an operation with, and the outcome it
// stands for. The texts are the writer's, as operators and their manuals
// know them; a failure's row says what it means and what to do. The
// command line's exit status, the trace's end note and the windows' titles
// read the outcome; the README's table of failures is made from this one.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "console/main_form.hpp"

namespace torvela {

struct status_text {
    const char* text;
    outcome result;
    const char* meaning = "";  // a failure's: what happened
    const char* to_do = "";    // and what the operator does next
};

std::span<const status_text> status_texts();
// The row of `text` ending an operation with `result`, or null.
const status_text* find_status(std::string_view text, outcome result);
// The failures as a Markdown table: status, what it means, what to do.
std::string failure_table();
// Beside a failure's status: the detail of this failure when there is one,
// else what the table says to do; empty after a success.
std::string failure_note(const main_form& f);
// The second way out of a writer left holding part of a unit by a transmit
// that stopped partway: for a writer that keeps its machine version page
// through ERASE ALL FLASH.
std::string partial_unit_way_out(const std::string& file);

}  // namespace torvela
