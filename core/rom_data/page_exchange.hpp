// Writing pages to the writer and reading them back for comparison.
#pragma once

#include "console/main_form.hpp"

namespace torvela {

void verify_Click(main_form& f);
// Runs verify_page / verify_memories_page on the page in rx_bytes.
void verify_page(main_form& f);
void verify_memories_page(main_form& f);

// Shows the message of a failed conversion; true when the conversion worked.
bool convert_or_report(main_form& f);

}  // namespace torvela
