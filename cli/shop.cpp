// The command line and the shop: sync (the outbox to the shop), shop-unit
// (a kept unit from the shop into a new file) and history --shop.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "cli.hpp"
#include "console.hpp"
#include "platform/disk_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"
#include "platform/shop_outbox.hpp"

namespace cli {

using namespace torvela;

namespace {

// How long an operation of the shop's own (not a job) may take.
constexpr auto shop_patience = std::chrono::seconds(60);

int say_failed(output& out, const std::string& why, int code) {
    say(stderr, "torvela-cli: %s\n", why.c_str());
    out.end(code == unusable ? "file problem" : "failed", "", why, code);
    return code;
}

// The shop named, or the reason none is.
bool named_shop(shop_address& shop, std::string& why) {
    shop = shop_address::for_user();
    if (!shop.problem.empty()) why = shop.problem;
    else if (shop.url.empty())
        why = "no shop is named: set TORVELA_SHOP and TORVELA_SHOP_TOKEN, or write them in shop.conf";
    return why.empty();
}

int left_ms(std::chrono::steady_clock::time_point until) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count());
}

std::string query_part(const std::string& s) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

// The records the shop holds that `query` chooses ("unit=…&outcome=…"),
// oldest first; false with the reason.
bool fetch_records(const shop_address& shop, http_client& http, const std::string& query,
                   std::chrono::steady_clock::time_point until, std::vector<shop_record>& records, std::string& why) {
    const http_reply reply = http.send(shop, "GET", "/api/records?limit=10000" + query, "", "", left_ms(until));
    if (reply.status != 200) {
        why = "the shop's records were not read: " + shop_refusal(reply);
        return false;
    }
    std::size_t at = 0;
    while (at < reply.body.size()) {
        const std::size_t end = std::min(reply.body.find('\n', at), reply.body.size());
        const std::string_view line(reply.body.data() + at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        const std::optional<flat_object> members = read_flat_object(line);
        const std::optional<job_record> r = record_from_line(line);
        if (!members || !r || !members->count("bench") || r->id.empty()) {
            why = "the shop answered with something that is no record: nothing is listed";
            return false;
        }
        auto member = [&](const char* key) {
            const auto found = members->find(key);
            return found == members->end() ? std::string() : found->second;
        };
        records.push_back({*r, member("bench"), member("received"), member("unit_held") == "yes"});
    }
    return true;
}

}  // namespace

int sync_shop(const options&, output& out) {
    shop_address shop;
    std::string why;
    if (!named_shop(shop, why)) return say_failed(out, why, failed);
    const job_history history = job_history::for_user();
    const shop_outbox box(history);
    const std::unique_ptr<http_client> http = make_http_client();
    const shop_outbox::delivery d = box.deliver(shop, *http, std::chrono::steady_clock::now() + shop_patience);
    for (const std::string& note : d.notes) say(stderr, "torvela-cli: %s\n", note.c_str());
    const std::string sent = std::to_string(d.sent) + (d.sent == 1 ? " record" : " records") + " sent to " + shop.url;
    if (d.waiting > 0 || !d.refused.empty()) {
        const std::string note = sent + "; " + box.waiting_note(d);
        say(stderr, "torvela-cli: %s\n", note.c_str());
        out.end("failed", "", note, failed);
        return failed;
    }
    out.result(sent + "; nothing waits", {text_field("shop", shop.url), text_field("sent", std::to_string(d.sent))});
    if (out.json()) out.end("success", "", "", success);
    return success;
}

bool shop_records(const options& o, const std::string& unit, std::vector<shop_record>& records, std::string& why) {
    shop_address shop;
    if (!named_shop(shop, why)) return false;
    std::string query;
    if (!unit.empty()) query += "&unit=" + unit;
    if (o.outcome_named) query += "&outcome=" + query_part(*o.outcome_named);
    return fetch_records(shop, *make_http_client(), query, std::chrono::steady_clock::now() + shop_patience, records,
                         why);
}

int shop_unit(const options& o, output& out) {
    const std::string id = o.files.at(0);
    const std::filesystem::path target = path_from_utf8(o.files.at(1));
    shop_address shop;
    std::string why;
    if (!named_shop(shop, why)) return say_failed(out, why, failed);
    if (!lower_hex(id, 32) && !lower_hex(id, 64))
        return say_failed(out, id + " is no record id (32 hex digits) or unit SHA-256 (64): history --shop --json lists them",
                          unusable);
    // A new file only: the operator's files are never replaced by the shop's.
    if (check_save_target(target) != save_target::new_file)
        return say_failed(out, o.files[1] + " exists: shop-unit writes a new file only, and replaces nothing",
                          unusable);
    const std::unique_ptr<http_client> http = make_http_client();
    const auto until = std::chrono::steady_clock::now() + shop_patience;
    std::string sha = id;
    if (id.size() == 32) {
        std::vector<shop_record> found;
        if (!fetch_records(shop, *http, "&id=" + id, until, found, why)) return say_failed(out, why, failed);
        if (found.empty()) return say_failed(out, "the shop holds no record " + id, failed);
        if (found.size() > 1)
            return say_failed(out, "more than one bench holds a record " + id + ": name the unit by its SHA-256", failed);
        if (!lower_hex(found[0].r.kept_sha256, 64))
            return say_failed(out, "record " + id + " kept no unit (only a save or a backup keeps one)", failed);
        sha = found[0].r.kept_sha256;
    }
    const http_reply unit = http->send(shop, "GET", "/api/units/" + sha, "", "", left_ms(until));
    if (unit.status != 200) return say_failed(out, "unit " + sha + " was not fetched: " + shop_refusal(unit), failed);
    // What came is the unit the bench kept, or nothing is written.
    if (const std::string got = sha256_hex(unit.body); got != sha)
        return say_failed(out, "the shop sent a unit with SHA-256 " + got + ", not " + sha + ": nothing was written",
                          failed);
    std::string problem;
    if (!write_new_file(target, unit.body, problem)) return say_failed(out, problem, failed);
    out.result("unit " + sha + " from " + shop.url + " into " + o.files[1],
               {text_field("file", o.files[1]), text_field("kept_sha256", sha)});
    if (out.json()) out.end("success", "", "", success);
    return success;
}

}  // namespace cli
