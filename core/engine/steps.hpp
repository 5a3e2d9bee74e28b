// Step bodies and job phases, defined beside the operation they belong to and
// gathered into the engine's and the sequencer's tables.
#pragma once

#include "console/main_form.hpp"
#include "engine/engine.hpp"

namespace torvela {

// rom_data: verify work files 1/10/11/12, page write 2/21, memories page write 181/182,
// verify memories files 141/144/142/143
void step_1(main_form&);
void step_10(main_form&);
void step_11(main_form&);
void step_12(main_form&);
void step_2(main_form&);
void step_21(main_form&);
void step_181(main_form&);
void step_182(main_form&);
void step_141(main_form&);
void step_144(main_form&);
void step_142(main_form&);
void step_143(main_form&);
// memories: page reads 131/134/132/133, CPU type 151/154/152, machine version
// 161/164/162, installer mode 191/194/192, store checks 201/204/202 211/214/212
void step_131(main_form&);
void step_134(main_form&);
void step_132(main_form&);
void step_133(main_form&);
void step_151(main_form&);
void step_154(main_form&);
void step_152(main_form&);
void step_161(main_form&);
void step_164(main_form&);
void step_162(main_form&);
void step_191(main_form&);
void step_194(main_form&);
void step_192(main_form&);
void step_201(main_form&);
void step_204(main_form&);
void step_202(main_form&);
void step_211(main_form&);
void step_214(main_form&);
void step_212(main_form&);
// service: switch operation 101/102, target write 111/112, CPU type check 171/172
void step_101(main_form&);
void step_102(main_form&);
void step_111(main_form&);
void step_112(main_form&);
void step_171(main_form&);
void step_172(main_form&);
// service: lock bits 6/61/62 7/71/72 8/81 9/91, write count 121/122
void step_6(main_form&);
void step_61(main_form&);
void step_62(main_form&);
void step_7(main_form&);
void step_71(main_form&);
void step_72(main_form&);
void step_8(main_form&);
void step_81(main_form&);
void step_9(main_form&);
void step_91(main_form&);
void step_121(main_form&);
void step_122(main_form&);
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

// jobs 2 and 3 (and the passes jobs 1 and 5 share)
void job2_phase99(main_form&);
void job2_phase12(main_form&);
void job2_phase8(main_form&);
void job3_phase99(main_form&);
void job3_phase12(main_form&);
void job3_phase8(main_form&);
void image_job_phase3(main_form&);
void image_job_phase1(main_form&);
void image_job_phase9(main_form&);

// job 5, target direct write
void job5_phase99(main_form&);
void job5_phase12(main_form&);
void job5_phase9(main_form&);
void job5_phase10(main_form&);
void job5_phase8(main_form&);

// job 1, writer version up
void job1_phase99(main_form&);
void job1_phase12(main_form&);
void job1_phase4(main_form&);
void job1_phase7(main_form&);
void job1_phase3(main_form&);
void job1_phase1(main_form&);
void job1_phase9(main_form&);
void job1_phase6(main_form&);
void job1_phase5(main_form&);
void job1_phase8(main_form&);

// job 4, save memories to file
void job4_phase99(main_form&);
void job4_phase12(main_form&);
void job4_phase16(main_form&);
void job4_phase14(main_form&);
void job4_phase15(main_form&);
void job4_phase11(main_form&);
void job4_phase13(main_form&);
void job4_phase3(main_form&);

// job 6, transmit memories
void job6_phase99(main_form&);
void job6_phase12(main_form&);
void job6_phase16(main_form&);
void job6_phase17(main_form&);
void job6_phase14(main_form&);
void job6_phase3(main_form&);
void job6_phase1(main_form&);
void job6_phase13(main_form&);
void job6_phase15(main_form&);

// The reply wait shared by the two-byte steps: `accepted` when two bytes were
// read and equal `code`; `waiting` while fewer have come (nothing happened);
// `aborted` after the abort sequence. A verdict tells the writer's refusal
// (AC AC) apart with its own text; anything else is "COMMUNICATION ERROR".
enum class wait_result { waiting, accepted, aborted };
enum class answer : bool { echo, verdict };
wait_result wait_ack(main_form& f, std::uint8_t code, answer kind, file1 file = file1::stays,
                     const char* refusal = "INSTALLER ERROR");

// Sends a two-byte command and sets the step that waits for its answer.
void start_family(main_form& f, std::uint8_t code, std::uint8_t step);

}  // namespace torvela
