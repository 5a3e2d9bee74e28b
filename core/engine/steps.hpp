// Step bodies and job phases, defined beside the operation they belong to and
// gathered into the engine's and the sequencer's tables.
#pragma once

#include "console/main_form.hpp"
#include "engine/engine.hpp"

namespace torvela {

// The exchanges, each declared in its operation's file.
extern const exchange verify_exchange;            // verify one page of a work file
extern const exchange page_write_exchange;        // write one page of a work file
extern const exchange memories_write_exchange;    // write one page of a memories file
extern const exchange memories_verify_exchange;   // verify one page of a memories file
extern const exchange memories_read_exchange;     // read the memories area into a file
extern const exchange cpu_read_exchange;          // read the CPU page
extern const exchange version_read_exchange;      // read the machine version page
extern const exchange installer_exchange;         // installer mode check
extern const exchange version_check_exchange;     // machine version check before a transmit
extern const exchange memory_full_check_exchange; // memory full check before a transmit
extern const exchange switch_exchange;            // switch operation set
extern const exchange target_write_exchange;      // writer to target write
extern const exchange cpu_check_exchange;         // CPU type check
extern const exchange lock_set_exchange;          // lock bit set, block by block
extern const exchange lock_read_exchange;         // lock bit read, block by block
extern const exchange lock_enable_exchange;
extern const exchange lock_disable_exchange;
extern const exchange write_count_exchange;       // the writer's write counts
extern const exchange erase_all_exchange;
extern const exchange block_erase_exchange;       // block erase, block by block
extern const exchange writer_id_exchange;         // writer-ID check
extern const exchange look_read_exchange;         // the pages of a look at the writer

// job 8, what the writer holds; job 9, a memories file against the writer
void job8_phase99(main_form&);
void job9_phase99(main_form&);
void look_phase12(main_form&);
void job8_phase21(main_form&);
void job9_phase21(main_form&);

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
void job10_phase99(main_form&);
void job11_phase99(main_form&);
void job11_phase21(main_form&);
void job10_phase13(main_form&);

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
inline constexpr const char* installer_error = "INSTALLER ERROR";  // the refusal unless a step names its own
wait_result wait_ack(main_form& f, std::uint8_t code, answer kind, file1 file = file1::stays,
                     const char* refusal = installer_error);

}  // namespace torvela
