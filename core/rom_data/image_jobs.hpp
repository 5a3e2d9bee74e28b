// The jobs that put a ROM image into the writer: TRANSMIT ROM DATA (job 2),
// the writer block write (job 3), the target direct write (job 5), the writer
// version up (job 1), and the plain write.
#pragma once

#include "console/main_form.hpp"
#include "link/protocol.hpp"

namespace torvela {

void flashall_write_Click(main_form& f);
void flashblock_write_Click(main_form& f);
void write_Click(main_form& f);
void unit_3mode_Click(main_form& f);
void writer_versionup_Click(main_form& f);

// The command byte of the address frame: pages of the writer's store are
// written with 2 and read back with 3; the writer's own program memory is
// addressed with 0 (the writer version up).
enum class page_command : std::uint8_t {
    program = protocol::address_program,
    write = protocol::address_write,
    read = protocol::address_read,
};

// The write pass and the verify pass over a work file: the control work file
// while pass_flag is 0, the image work file once it is 1 (or always, for
// `image_only`). The pass ends with job_phase 1 (written) or 9 (verified).
void start_write_pass(main_form& f, bool image_only, const char* first_status,
                      page_command command = page_command::write);
void start_verify_pass(main_form& f, bool image_only, page_command command = page_command::read);

// The 32 nibbles of a writer program ID text; false when a character has
// no nibble value.
bool writer_program_id_matches(const main_form& f);
// Why the converted file is no writer program, or empty when it is one.
std::string writer_program_id_problem(const main_form& f);

}  // namespace torvela
