// What the window shows, for the face that must draw it.
#include "console/cpu_family.hpp"
#include "console/main_form.hpp"
#include "console/status_texts.hpp"
#include "text.hpp"

namespace torvela_win32 {

std::wstring window_texts() {
    // What the window and its block dialog show: every caption of the
    // control table, every status text, both families' block labels, and
    // the printable ASCII of file names, the trace and the job list.
    std::string all;
    for (char c = ' '; c < 0x7F; ++c) all.push_back(c);
    for (const torvela::control_design& d : torvela::control_table()) all += d.caption ? d.caption : "";
    for (const torvela::status_text& t : torvela::status_texts()) all += t.text;
    for (const torvela::cpu_family* family : {&torvela::m32r_family, &torvela::m16c_family})
        for (const char* caption : family->block_captions) all += caption;
    return wide(all);
}

}  // namespace torvela_win32
