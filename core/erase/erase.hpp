// Erase all flash (job 7) and the block erase with its block selection.
#pragma once

#include <string_view>

#include "console/main_form.hpp"

namespace torvela {

void allunlock_erase_Click(main_form& f);

void block_erase_Click(main_form& f);
// The ticked check boxes into the selection of the chosen CPU family.
void read_block_checks(main_form& f);
// Check3..Check9 into block_select 2..8, whatever the family.
void read_erase_block_checks(main_form& f);

// The erase phase of a job: sets Check1..Check9 as `ticks` says ('1' ticked,
// '0' unticked, '-' left as it is; nine characters, Check1 first), clears
// the selections and erases the blocks of the ticked Check3..Check9.
void start_job_erase(main_form& f, std::string_view ticks);

}  // namespace torvela
