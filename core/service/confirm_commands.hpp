// The three commands the writer confirms with D0 D0: switch operation set,
// target write, CPU type check.
#pragma once

#include "console/main_form.hpp"

namespace torvela {

void swon_en_Click(main_form& f);
void target_write_Click(main_form& f);

}  // namespace torvela
