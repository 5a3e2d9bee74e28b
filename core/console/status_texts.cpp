#include "console/status_texts.hpp"

namespace torvela {

namespace {

using o = outcome;

constexpr status_text table[] = {
    // ---- the operations' success texts
    {"ALL FLASH ERASE COMPLETE", o::success},
    {"SAVE MEMORIES TO FILE COMPLETE", o::success},
    {"TRANSMIT MEMORIES COMPLETE", o::success},
    {"ROM DATA TRANSMIT COMPLETE", o::success},
    {"ROM WRITER BLOCK WRITE COMPLETE", o::success},
    {"TARGET DIRECT WRITE COMPLETE", o::success},
    {"ROM WRITER VERSION UP COMPLETE", o::success},
    {"CHECK WRITER-ID OK", o::success},
    {"BLOCK ERASE OK", o::success},
    {"TRANSMIT OK", o::success},
    {"VERIFY OK", o::success},
    {"CPU TYPE CHECK OK", o::success},
    {"SWITCH OPERATION OK", o::success},
    {"TARGET WRITE NOW!", o::success},
    {"ROCK BIT SET OK", o::success},
    {"ROCK NONBLOCK", o::success},
    {"ROCK EXISTBLOCK", o::success},
    {"ROCK BIT VALIDITY OK", o::success},
    {"ROCK BIT INVALIDITY OK", o::success},
    {"ライタ書き込み回数読込ＯＫ", o::success},
    {"WRITER INFORMATION COMPLETE", o::success},
    {"COMPARE MEMORIES OK", o::success},
    {"BACKUP MEMORIES TO FILE COMPLETE", o::success},
    {"READ ROM DATA COMPLETE", o::success},
    // ---- failures
    {"PORT OPEN ERROR", o::no_port,
     "COMn could not be opened; the detail names the device and the system's reason",
     "choose the writer's port; the detail says what to do (\"Permission denied\" on Linux: join the group that "
     "owns the device, which it names; \"in use\": close the other program)"},
    {"COMMUNICATION ERROR", o::communication_lost,
     "the writer answered wrongly (the bytes are named), nothing within 11 s, or the line was lost, in the named "
     "exchange",
     "check the writer is on and its cable is in the port, then again; the detail says what the writer holds now "
     "(as it was, or which blocks were erased and how many pages written)"},
    {"COMMIMUCATION ERROR", o::communication_lost, "the same, in the verify of a ROM image (the writer's spelling)",
     "as COMMUNICATION ERROR"},
    {"COMMUNICATION ERROR", o::internal_error},
    {"INSTALLER ERROR", o::writer_refused,
     "the writer refused the named exchange (AC AC), or a CPU type page the tool does not know",
     "check the writer and the unit; the detail says what the writer holds now"},
    {"INSTALLER ERROR", o::writer_state},
    {"INSTALLER MODE ERROR", o::writer_state, "the writer is not in the mode a save needs",
     "set the writer to its installer mode"},
    {"NO MEMORY ERROR", o::writer_state,
     "the writer holds no unit (blank version or CPU page), or a memories file lacks pages",
     "nothing to save / choose a whole memories file"},
    {"NO MEMORY ERROR", o::file_problem},
    {"FULL MEMORY ERROR", o::writer_state,
     "TRANSMIT MEMORIES found memories in the writer: a unit not yet saved, or a transmit that stopped partway; "
     "nothing was written",
     "`compare FILE` tells which: a unit not yet saved, SAVE MEMORIES TO FILE first (it erases them once they are "
     "safe); part of FILE, ERASE ALL FLASH, then TRANSMIT MEMORIES of FILE (still FULL MEMORY ERROR: SAVE MEMORIES TO "
     "FILE into a new file, which holds no unit, then TRANSMIT MEMORIES of FILE)"},
    {"MEMORY FILE ERROR", o::file_problem, "the memories file is malformed; nothing was sent",
     "choose the file a save wrote"},
    {"ROM DATA FILE ERROR", o::file_problem, "the S-record file cannot be converted; nothing was sent",
     "choose the right image"},
    {"NO PAGE ERROR", o::file_problem, "the blocks chosen hold no page of the image; nothing was sent",
     "choose the blocks the image fills"},
    {"FILE OPEN ERROR", o::file_problem,
     "the chosen file or its folder cannot be used (the detail says why); nothing was sent",
     "choose a file in a folder you may write to"},
    {"FILE OPEN ERROR", o::internal_error},
    {"FILE SAVE ERROR", o::file_problem,
     "the memories could not be put in the chosen file; the writer was not erased and still holds them (a "
     "verified copy may be kept, the detail names it)",
     "free the disk or choose another file, save again"},
    {"VERIFY ERROR", o::writer_refused, "a page read back differs from the file twice (the page and every differing byte are named)",
     "write again; check the unit"},
    {"WRITER-ID ERROR", o::file_problem, "the file is not a writer program", "choose the writer's program file"},
    {"ROCK BIT ERROR", o::writer_refused, "the writer did not set the lock bit of the named block",
     "check the block and the writer, then again"},
    {"ROCK BIT VALIDITY ERROR", o::writer_refused, "the writer refused to make the lock bits effective",
     "check the writer, then again"},
    {"ROCK BIT INVALIDITY ERROR", o::writer_refused, "the writer refused to make the lock bits ineffective",
     "check the writer, then again"},
    {"TARGET WRITE ERROR", o::writer_refused, "the writer could not write the target unit",
     "check the target's cable and the write count limit"},
    {"COMPARE MEMORIES DIFFERENT", o::different,
     "the writer holds other memories than the file (each differing page is named); nothing was changed",
     "choose the unit's own file, or save the writer's memories first"},
    {"INTERRUPTED", o::interrupted, "the operator stopped the operation (a signal, a closed window)",
     "the detail says what the writer and the file hold now"},
};

}  // namespace

std::span<const status_text> status_texts() { return table; }

const status_text* find_status(std::string_view text, outcome result) {
    for (const status_text& s : table)
        if (text == s.text && s.result == result) return &s;
    return nullptr;
}

std::string failure_note(const main_form& f) {
    if (f.last_outcome == outcome::success || f.last_outcome == outcome::none) return {};
    if (!f.detail.empty()) return f.detail;
    const status_text* s = find_status(f.Label9.caption, f.last_outcome);
    return s && *s->to_do ? s->to_do : "";
}

std::string partial_unit_way_out(const std::string& file) {
    return "should the writer still answer FULL MEMORY ERROR, it keeps its machine version page through that erase: "
           "take the part out with SAVE MEMORIES TO FILE into a new file, not " + file +
           " (it holds no unit: set it aside), then TRANSMIT MEMORIES of " + file;
}

std::string failure_table() {
    std::string out = "| Status | What it means | What to do |\n|---|---|---|\n";
    for (const status_text& s : table)
        if (*s.meaning) out += std::string("| ") + s.text + " | " + s.meaning + " | " + s.to_do + " |\n";
    return out;
}

}  // namespace torvela
