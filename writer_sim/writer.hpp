// A model of the ROM writer: it parses the bytes the tool sends, one at a
// time as they come off the line, and answers the way the writer does. It is
// written from the writer's side of the line and shares nothing with the
// tool's frame builders or tables, so it checks them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace writer_sim {

inline constexpr std::size_t store_size = 0x100000;  // 1 MB, 4096 pages of 256 bytes
inline constexpr std::size_t page_size = 256;

// What goes wrong with one reply.
enum class fault_kind {
    no_reply,        // the writer stays silent
    wrong_echo,      // two wrong bytes instead of the reply
    ac_ac,           // the installer error 0xAC 0xAC instead of the reply
    split,           // the first byte, then the rest after a pause
    extra_bytes,     // three stray bytes after the reply
    truncated_page,  // only half of a 256-byte page
    corrupted_page,  // one byte of a page flipped
    drop_line,       // the line goes dead instead of the reply
    replace,         // the bytes given in the fault instead of the reply
    late,            // the reply, `delay_us` later than the writer would send it
};

struct fault {
    std::string tag;   // which reply: "echo:F5", "done:A7", "page:010500", ...
    int occurrence;    // the n-th such reply (1 = the first)
    fault_kind kind;
    std::vector<std::uint8_t> bytes = {};  // for replace
    std::uint64_t delay_us = 0;            // for late
};

// A reply as the writer puts it on the line: `bytes` begin to leave the
// writer `delay_us` after the frame that caused them was received.
struct reply {
    std::vector<std::uint8_t> bytes;
    std::uint64_t delay_us = 0;
};

class writer {
public:
    writer();

    // A unit's worth of data, as a writer in the field holds it: CPU type
    // M32R, the machine version page, the installer mode page cleared, and
    // 128 memories pages that say which page they are.
    void hold_sample_unit();

    // One byte off the line. Replies are appended to `out`.
    void receive(std::uint8_t byte, std::vector<reply>& out);
    // The line has been quiet for `quiet_us` (no byte either way) before the
    // next byte: a frame begun before a pause longer than frame_pause_us is
    // dropped and the writer waits for a command again, as a writer's
    // receiver does after a sender gave up in the middle of a frame.
    void line_quiet(std::uint64_t quiet_us);
    // The tool never leaves more than an engine tick or two (4 ms each)
    // between the frames of one exchange, and never less than a sequencer
    // period (500 ms) between the end of a job and the first frame of the
    // next: 250 ms lies well between the two, so a half-received frame is
    // dropped before the next job begins, and never inside a live one.
    // 0: never; a writer whose receiver has no timeout keeps a half-received
    // frame however long the line is quiet, and nothing obliges one to.
    std::uint64_t frame_pause_us = 250'000;
    // Frames dropped that way.
    int frames_dropped = 0;

    // Erases restore every byte to 0xFF.
    std::array<std::uint8_t, store_size> store{};
    // The writer's own program, apart from the store: pages written and read
    // with command byte 0 (the loader replaces a program page whole). No
    // erase, lock bit or counter touches it.
    std::array<std::uint8_t, store_size> program{};
    int program_pages_written = 0;
    // Lock bit per block code 0..6: true = locked. While the lock bits are
    // enabled a locked block refuses to be erased (AC AC).
    std::array<bool, 7> locked{};
    bool locks_enabled = false;
    int lock_enables = 0, lock_disables = 0;
    // The code the writer expects after DF FF 07.
    std::array<std::uint8_t, 7> id_code{};

    // Processing times the writer takes before it answers.
    std::uint64_t echo_delay_us = 200;
    std::uint64_t erase_all_delay_us = 400'000;
    std::uint64_t block_erase_delay_us = 60'000;
    std::uint64_t page_read_delay_us = 500;
    std::uint64_t page_write_delay_us = 2'000;
    std::uint64_t confirm_delay_us = 1'000;
    std::uint64_t target_write_delay_us = 3'000'000;
    // Pause inside a reply split in two.
    std::uint64_t split_pause_us = 12'000;

    void add_fault(fault f) { faults_.push_back(std::move(f)); }
    // How many replies of each tag the writer has sent (or was to send).
    const std::map<std::string, int>& replies_seen() const { return seen_; }
    // Called when a drop_line fault fires.
    std::function<void()> on_drop;

    // Counters of what happened, for tests.
    int erase_all_count = 0;
    std::vector<int> erased_blocks;  // block codes in the order erased
    int id_checks_passed = 0;
    int id_checks_refused = 0;
    int pages_read = 0;
    int pages_written = 0;
    int target_writes = 0;
    int switch_sets = 0;
    int cpu_type_checks = 0;  // 75 75 also disables the lock bits
    // Pages read, in order (store addresses).
    std::vector<std::uint32_t> read_pages;
    // Pages written, in order (store addresses).
    std::vector<std::uint32_t> written_pages;
    // Bytes that arrived when no command could start with them.
    int stray_bytes = 0;

    // Flash semantics: a write can only clear bits (an unerased page keeps
    // its zeros).
    bool flash_write_and = true;

    // Block code to store range (first page address, length in bytes).
    static std::pair<std::uint32_t, std::uint32_t> block_range(int code);

private:
    enum class state {
        command,     // waiting for a two-byte command
        id_frame,    // after F5 F5: eleven bytes DF FF 07 code[7] 00
        erase_go,    // after A7 A7: the go-ahead D0 D0
        block_frame, // after 20 20: D8 n 00 00
        read_address,   // after FF FF: 03 a2 a1 00
        read_again,     // after D0 D0: the same address frame, then the page goes out
        write_page,     // after 41 41: 02 a2 a1 00 and 256 bytes
        confirm_go,     // after 25 25, C5 C5, 75 75, 7A 7A: the go-ahead D0 D0
        lock_frame,     // after 77 77 or 71 71: D8 n 00 00
    };
    std::uint8_t lock_code_ = 0;
    std::uint8_t read_command_ = 0x03;
    void count_target_write();
    void erase_range(std::uint32_t start, std::uint32_t len);
    std::uint8_t confirm_code_ = 0;
    std::uint32_t page_address(const std::vector<std::uint8_t>& f) const;
    // Command byte 3 reads the store, 0 the program memory.
    std::array<std::uint8_t, store_size>* read_memory(std::uint8_t command);
    void emit(const std::string& tag, std::vector<std::uint8_t> bytes, std::uint64_t delay,
              std::vector<reply>& out);
    void on_command(std::uint8_t code, std::vector<reply>& out);
    void on_frame_complete(std::vector<reply>& out);
    // Each complete frame, by the state that awaited it.
    void on_id_frame(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_erase_go(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_block_frame(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_read_address(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_read_again(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_write_page(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_confirm_go(const std::vector<std::uint8_t>& f, std::vector<reply>& out);
    void on_lock_frame(const std::vector<std::uint8_t>& f, std::vector<reply>& out);

    state state_ = state::command;
    std::vector<std::uint8_t> frame_;
    std::size_t frame_len_ = 2;
    std::vector<fault> faults_;
    std::map<std::string, int> seen_;
};

}  // namespace writer_sim
