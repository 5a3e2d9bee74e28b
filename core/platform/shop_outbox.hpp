// The shop: a server every bench of a service shop publishes its job
// records and kept units to (torvela-shop), and reads every bench's from.
// A bench names it in TORVELA_SHOP and TORVELA_SHOP_TOKEN, or in the same
// two lines of its shop.conf ($XDG_CONFIG_HOME/torvela/shop.conf, mode
// 0600; %APPDATA%\TORVELA\shop.conf on Windows). Without either the bench
// works alone, as it always did.
//
// Every record goes first into the outbox, outbox/ in the history's folder,
// one file a record (its id.jsonl: the history's line, whole or absent as a
// kept copy is), and leaves it only once the shop said it holds it. A
// record sent twice is stored once: the shop knows it by the id the bench
// made. A shop that is down, slow or refuses costs a note, never a job.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/job_history.hpp"

namespace torvela {

struct shop_address {
    std::string url;    // "http://127.0.0.1:8470", "https://shop.lan:8470"
    std::string token;  // the bench's own, from torvela-shop add-bench
    std::string ca;     // a certificate file the shop's is checked by (else the system's)
    std::string from;   // where the settings were read, for messages
    // Why the settings cannot be followed: then nothing goes to the shop,
    // and every job says so.
    std::string problem;
    bool named() const { return !url.empty() || !problem.empty(); }
    // The environment's, else shop.conf's; nothing named when neither is.
    static shop_address for_user();
    // The settings shop.conf's text holds (its lines NAME=VALUE).
    static shop_address from_text(std::string_view text, const std::string& from);
};

struct http_reply {
    int status = 0;     // 0: no answer (then `error` says why)
    std::string body;
    std::string error;
};
// One request to the shop at a time; the platform's own HTTP(S) client.
class http_client {
public:
    virtual ~http_client() = default;
    // `path` with its query; the bench's token goes as a bearer token.
    virtual http_reply send(const shop_address& shop, const std::string& method, const std::string& path,
                            const std::string& content_type, std::string_view body, int timeout_ms) = 0;
};
// The client of this platform (port/).
std::unique_ptr<http_client> make_http_client();

// Whether `s` is `digits` lowercase hex digits: a record id (32), a SHA-256 (64).
bool lower_hex(std::string_view s, std::size_t digits);

// A record as the shop takes it: one JSON object, every text well-formed
// UTF-8 (a byte that is not shows as U+FFFD).
std::string shop_record_json(const job_record& r);
// The reason an answer gives, for a note: its "error" member or its status.
std::string shop_refusal(const http_reply& reply);

class shop_outbox {
public:
    explicit shop_outbox(job_history history) : history_(std::move(history)) {}
    std::filesystem::path folder() const { return history_.folder() / "outbox"; }

    // The record (with its id) into the outbox, whole or not at all.
    bool put(const job_record& r, std::string& why) const;
    struct entry {
        std::string name;  // "<id>.jsonl"
        job_record record;
    };
    struct listing {
        std::vector<entry> entries;      // oldest first
        std::vector<std::string> notes;  // files skipped, and why
        std::string refused;             // the folder itself is not trusted
    };
    listing waiting() const;

    // What went and what waits after a delivery.
    struct delivery {
        std::size_t sent = 0, waiting = 0;
        std::string why;                 // why the first that waits did not go
        std::vector<std::string> notes;  // files of the outbox skipped, and why
        std::string refused;             // the outbox folder is not trusted: nothing was read
    };
    // Every waiting record to the shop, oldest first, its kept unit before
    // it, until `deadline`: each leaves the outbox when the shop holds it.
    // `cancel` ends it between two requests. No request outlasts the
    // deadline.
    delivery deliver(const shop_address& shop, http_client& http, std::chrono::steady_clock::time_point deadline,
                     const std::atomic<bool>* cancel = nullptr) const;
    // The operator's words for a delivery that left records waiting, or
    // could not read the outbox; empty when none waits.
    std::string waiting_note(const delivery& d) const;

private:
    // What the outbox folder held open holds; removes what killed jobs left.
    listing read(const held_folder& out) const;
    job_history history_;  // a copy: names the folders only
};

// Carries the outbox to the shop on a thread of its own, so that no front
// end waits for the network while it runs a job. A shop that holds a
// request past every timeout (one byte a second) holds only that thread:
// the courier lets it go when it ends, its state kept alive by the thread.
class shop_courier {
public:
    shop_courier(const job_history& history, shop_address shop, std::unique_ptr<http_client> http);
    ~shop_courier();
    shop_courier(const shop_courier&) = delete;
    shop_courier& operator=(const shop_courier&) = delete;

    const shop_outbox& outbox() const;
    // The record into the outbox, and the courier woken. The reason when
    // it could not be put there (then it is in the history only).
    std::string publish(const job_record& r);
    // Waits until the courier has tried every record published so far, at
    // most `ms`: what went and what still waits.
    shop_outbox::delivery settle(int ms);
    // The note for the operator once a record has waited, once.
    std::optional<std::string> take_note();

private:
    struct state;
    std::shared_ptr<state> s_;
    std::thread thread_;
};

}  // namespace torvela
