// Writing pages to the writer and reading them back for comparison.
#pragma once

#include "console/main_form.hpp"
#include "engine/engine.hpp"

namespace torvela {

void verify_Click(main_form& f);
// Runs verify_page / verify_memories_page on the page in rx_bytes.
void verify_page(main_form& f);
void verify_memories_page(main_form& f);

// The end of a pass over a file: file 1 closed, the engine idle, `status`
// shown and the job on with the completion phase of `x`.
void end_pass(main_form& f, const char* status, const exchange& x);

// Shows the message of a failed conversion; true when the conversion worked.
// With the store's filter on, a file with pages the store has no place for
// fails too: an image is sent whole or not at all.
bool convert_or_report(main_form& f);

// A write, verify or block write that finds no page in the chosen blocks.
inline constexpr const char* no_page_error = "NO PAGE ERROR";

}  // namespace torvela
