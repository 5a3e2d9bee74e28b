// Erase all flash (job 7) and the block erase with its block selection.
#pragma once

#include "console/main_form.hpp"

namespace torvela {

void allunlock_erase_Click(main_form& f);

void block_erase_Click(main_form& f);
// The ticked check boxes into the selection of the chosen CPU family.
void read_block_checks(main_form& f);
// Check3..Check9 into block_select 2..8, whatever the family.
void read_erase_block_checks(main_form& f);

}  // namespace torvela
