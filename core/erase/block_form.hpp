// The block dialog: nine check boxes for the blocks to write, their labels
// and OK. It is created anew at each showing, its boxes unticked.
#pragma once

#include <array>

#include "console/main_form.hpp"

namespace torvela {

struct block_form {
    block_form();
    // target_blockA..target_blockI, block0..block8, OK_buttun
    std::array<control, 9> target_block;
    std::array<control, 9> block;
    control OK_buttun;
    bool unloaded = false;
};

void Form_Activate(block_form& dlg, const main_form& f);
void OK_buttun_Click(block_form& dlg, main_form& f);
void Form_Unload(block_form& dlg);

}  // namespace torvela
