// A rehearsal: a job run to its end in virtual time against a writer that
// answers as the engine's exchange tables expect it to, so that an operator
// sees what a job would send before anything reaches the real writer. No
// port is opened and nothing on the line is touched.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "console/cpu_family.hpp"
#include "platform/platform.hpp"

namespace torvela {

class front_driver;

// What reached the rehearsed writer and what it carried out.
struct rehearsed {
    int erase_all = 0;
    std::vector<int> erased_blocks;  // block codes, in the order erased
    std::vector<int> locked_blocks;  // block codes whose lock bit was set
    int lock_enables = 0, lock_disables = 0, switch_sets = 0, target_writes = 0;
    std::vector<std::uint32_t> written_pages, read_pages;  // store addresses, in order
    int program_pages_written = 0;
};

// The writer's end of a rehearsal. Each answer is the one the row the
// engine waits at accepts: a command's echo, `done`, the lock state of the
// block just sent, the page at the address just sent. Pages written are
// kept, so that what a job writes it reads back; an unwritten page is
// blank. Erasing all flash blanks the store from the memories area up; a
// block erase is recorded only, as no job reads a block back after erasing
// it (the image jobs write it again).
class rehearsal_port final : public serial_port {
public:
    // The form whose engine the answers follow (set once the form exists).
    void answer_to(const main_form& f) { form_ = &f; }
    // A unit as a writer in the field holds it: the family's CPU page, a
    // machine version page, the installer page blank, and a memories area
    // whose pages each say which they are.
    void hold_unit(const cpu_family& family);
    // Forgets what reached the writer, keeping what it holds.
    void forget_what_went() { went = {}; }

    rehearsed went;

    void CommPort(int) override {}
    void Settings(std::string_view) override {}
    void InputLen(int) override {}
    void InputMode(int) override {}
    bool PortOpen() const override { return open_; }
    bool PortOpen(bool open) override {
        open_ = open;
        return true;
    }
    int InBufferCount() override;
    std::string Input() override;
    bool Output(std::span<const std::uint8_t> bytes) override;
    std::string device() const override { return "a rehearsal, no device"; }

private:
    using page = std::vector<std::uint8_t>;
    // Store and program pages by address (bits 8-23); absent: blank.
    std::map<std::uint32_t, page> store_, program_;
    std::vector<bool> locked_ = std::vector<bool>(8, false);
    const main_form* form_ = nullptr;
    bool open_ = false;
    bool owed_ = false;  // bytes went since the last answer
    std::uint8_t command_ = 0;            // the last command sent
    std::vector<std::uint8_t> address_;   // the last address frame
    int block_ = -1;                      // the code of the last block frame
    std::string rx_;
    void answer_row();
    void carried_out(std::uint8_t command);
    void write_page(std::span<const std::uint8_t> bytes);
    std::uint32_t address() const;
};

// Runs the driver's timers on a virtual clock until nothing runs (no
// engine step, and no job when `job` holds) or a virtual hour has passed;
// returns whether it ended. A rehearsed job of a minute takes milliseconds.
bool run_rehearsal(front_driver& driver, const main_form& f, bool job);

}  // namespace torvela
