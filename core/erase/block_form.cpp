#include "erase/block_form.hpp"

namespace torvela {

block_form::block_form() {
    static const char* const letters = "ABCDEFGHI";
    static const char* const labels[9] = {"ﾌﾞﾛｯｸ0", "ﾌﾞﾛｯｸ1", "Label3", "Label4", "Label5",
                                          "Label6", "Label7", "Label8", "Label9"};
    for (int i = 0; i < 9; ++i) {
        control& c = target_block[static_cast<std::size_t>(i)];
        c.name = std::string("target_block") + letters[i];
        c.kind = control_kind::check;
        c.caption = "Check" + std::to_string(i + 1);
        c.left = i < 4 ? 120 : i < 8 ? 2280 : 120;
        c.top = i < 8 ? 120 + 480 * (i % 4) : 2040;
        c.width = 255;
        c.height = 255;
        c.visible = i < 7;
        control& l = block[static_cast<std::size_t>(i)];
        l.name = "block" + std::to_string(i);
        l.kind = control_kind::label;
        l.caption = labels[i];
        l.left = c.left + 360;
        l.top = c.top;
        l.width = 1800;
        l.height = 255;
        l.visible = i < 7;
    }
    OK_buttun.name = "OK_buttun";
    OK_buttun.kind = control_kind::button;
    OK_buttun.caption = "ＯＫ";
    OK_buttun.left = 2640;
    OK_buttun.top = 2040;
    OK_buttun.width = 1575;
    OK_buttun.height = 495;
}

void Form_Activate(block_form& dlg, const main_form& f) {
    if (const cpu_family* family = flash_family(f.Label2.caption))
        for (std::size_t i = 0; i < 9; ++i) dlg.block[i].caption = family->block_captions[i];
}

void OK_buttun_Click(block_form& dlg, main_form& f) {
    for (int i = 0; i < 9; ++i)
        f.fblock(i).caption = dlg.target_block[static_cast<std::size_t>(i)].value == 1 ? "1" : "0";
    Form_Unload(dlg);
}

void Form_Unload(block_form& dlg) { dlg.unloaded = true; }

}  // namespace torvela
