#include "service/write_count.hpp"

#include "engine/engine.hpp"
#include "engine/steps.hpp"
#include "link/link.hpp"
#include "link/protocol.hpp"
#include "platform/seq_files.hpp"

namespace torvela {

namespace {
// The rows of a count page's read: the echo, then the page.
enum count_row : std::uint8_t { count_echo = 121, count_page_row = 122 };
}  // namespace

count_words decode_count_words(std::span<const std::uint8_t> page) {
    count_words w{};
    std::array<std::uint8_t, 4> b = {page[0], page[1], page[2], page[3]};
    constexpr std::uint8_t erased = protocol::empty_byte;
    if (b[0] == erased && b[1] == erased) b[0] = b[1] = 0;
    if (b[2] == erased && b[3] == erased) b[2] = b[3] = 0;
    if (b[0] > 100) b[0] = 100;
    if (b[2] > 100) b[2] = 100;
    w.shown = b;
    w.first = b[0] * 256 + b[1];
    w.second = b[2] * 256 + b[3];
    return w;
}

std::int32_t decode_unary_count(std::span<const std::uint8_t> page) {
    std::int32_t n = 0;
    for (std::size_t i = 0; i < page.size() && i < 256; ++i) {
        const std::uint8_t b = page[i];
        if (b == protocol::empty_byte) break;
        if (b == 0x00) {
            n += 8;
            continue;
        }
        n += b >= 0x7F ? 1 : b >= 0x3F ? 2 : b >= 0x1F ? 3 : b >= 0x0F ? 4 : b >= 0x07 ? 5 : b >= 0x03 ? 6 : 7;
        break;
    }
    return n;
}

void start_write_count_read(main_form& f) {
    f.count_pass = 0;
    start_exchange(f, write_count_exchange);
}

void write_count_Click(main_form& f) {
    if (f.engine_step != 0 || f.job_no != 0) return;
    if (!open_port_prologue(f)) return;
    if (!f.msgbox.yes_no("WRITE COUNT CHECK ?", "WRITE COUNT CHECK")) return;
    start_write_count_read(f);
}

namespace {

void next_pass(main_form& f, std::uint8_t pass) {
    f.count_pass = pass;
    start_exchange(f, write_count_exchange);
}

void show_bytes(main_form& f, const std::array<std::uint8_t, 4>& b) {
    f.Label17.caption = std::to_string(b[0]);
    f.Label18.caption = std::to_string(b[1]);
    f.Label19.caption = std::to_string(b[2]);
    f.Label20.caption = std::to_string(b[3]);
}

// The address of the count page (sent once: the writer answers a count page
// address with the page itself).
void ask_count_page(main_form& f) {
    f.engine_step = count_page_row;
    f.Label9.caption = "WRITER CNT READ NOW!";
    const protocol::page_address page = f.count_pass < 2 ? protocol::count_page_a : protocol::count_page_b;
    f.address_frame = {protocol::address_read, page.high, page.mid, 0};
    send_address_frame(f);
}

void count_page(main_form& f) {
    const std::span<const std::uint8_t> page(f.rx_bytes.data(), page_len);
    switch (f.count_pass) {
    case 0: {
        const count_words w = decode_count_words(page);
        show_bytes(f, w.shown);
        f.writer_count_a = w.first;
        f.writer_count_b = w.second;
        next_pass(f, 1);
        return;
    }
    case 1: {
        const count_words w = decode_count_words(page);
        show_bytes(f, w.shown);
        if (w.first != f.writer_count_a || w.second != f.writer_count_b) {
            f.detail = "two readings of the write counts on " + port_named(f) + " disagree (" +
                       std::to_string(f.writer_count_a) + "/" + std::to_string(f.writer_count_b) + ", then " +
                       std::to_string(w.first) + "/" + std::to_string(w.second) + "); try again";
            abort_sequence(f, outcome::communication_lost, "COMMUNICATION ERROR", file1::close);
            return;
        }
        next_pass(f, 2);
        return;
    }
    case 2:
        f.unary_count = decode_unary_count(page);
        next_pass(f, 3);
        return;
    default: {
        show_bytes(f, {page[0], page[1], page[2], page[3]});
        // Two readings that disagree: the step stands and the watchdog ends it.
        if (decode_unary_count(page) != f.unary_count) return;
        f.writer_count_b += f.unary_count;
        report(f, outcome::success, "ライタ書き込み回数読込ＯＫ");
        f.Label6.caption = std::to_string(f.writer_count_a);
        f.Label7.caption = std::to_string(f.writer_count_b);
        f.found.counts = f.Label6.caption + "/" + f.Label7.caption;
        exchange_done(f);
        return;
    }
    }
}

// Four passes, each FF FF, the echo, the count page's address, the page:
// the count words twice, the unary count twice.
constexpr exchange_step write_count_steps[] = {
    {.step = count_echo, .wait = awaits::echo, .code = protocol::page_read, .file = file1::close, .body = ask_count_page},
    {.step = count_page_row, .wait = awaits::bytes, .count = page_len, .body = count_page},
};

}  // namespace

const exchange write_count_exchange = {"writer write-count read", protocol::page_read, write_count_steps, 12};

}  // namespace torvela
