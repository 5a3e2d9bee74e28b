// Lock bits: read and set per block, enable and disable for the device.
#pragma once

#include "console/main_form.hpp"

namespace torvela {

void rockbit_read_Click(main_form& f);
void rockbit_set_Click(main_form& f);
void rockbit_on_Click(main_form& f);
void rockbit_non_Click(main_form& f);

}  // namespace torvela
