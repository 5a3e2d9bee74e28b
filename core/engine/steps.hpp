// Step bodies and job phases, defined beside the operation they belong to and
// gathered into the engine's and the sequencer's tables.
#pragma once

#include "console/main_form.hpp"

namespace torvela {

// erase: erase all 3/31, block erase 4/41/42
void step_3(main_form&);
void step_31(main_form&);
void step_4(main_form&);
void step_41(main_form&);
void step_42(main_form&);
// service: writer-ID check 5/51
void step_5(main_form&);
void step_51(main_form&);

// job 7, erase all flash
void job7_phase99(main_form&);
void job7_phase12(main_form&);
void job7_phase2(main_form&);

// The reply wait shared by the two-byte steps: true when two bytes were read
// and equal `code`; false while waiting (nothing happened) and after an abort.
// `finishing` steps turn 0xAC 0xAC into "INSTALLER ERROR".
enum class wait_result { waiting, accepted, aborted };
wait_result wait_ack(main_form& f, std::uint8_t code, bool finishing);

}  // namespace torvela
