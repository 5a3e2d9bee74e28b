#include "platform/shop_outbox.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/disk_files.hpp"
#include "platform/json_text.hpp"

namespace torvela {

namespace fs = std::filesystem;

namespace {

constexpr const char* entry_suffix = ".jsonl";
constexpr const char* torn_prefix = ".out-";
constexpr const char* torn_suffix = ".tmp";
// The longest a shop.conf or an outbox file can be: a record is a few KiB.
constexpr std::size_t file_limit = 1u << 16;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

fs::path config_folder() {
#ifdef _WIN32
    const wchar_t* roaming = _wgetenv(L"APPDATA");
    if (!roaming || !*roaming) return {};
    return fs::path(roaming) / L"TORVELA";
#else
    const std::string xdg = env("XDG_CONFIG_HOME"), home = env("HOME");
    if (!xdg.empty()) return fs::path(xdg) / "torvela";
    if (home.empty()) return {};
    return fs::path(home) / ".config" / "torvela";
#endif
}

// A file of ours, read whole when it is no longer than `limit`.
bool read_small(std::FILE* in, std::string& text) {
    text.clear();
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
        text.append(buffer, n);
        if (text.size() > file_limit) return false;
    }
    return !std::ferror(in);
}

}  // namespace

bool lower_hex(std::string_view s, std::size_t digits) {
    return s.size() == digits && s.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

shop_address shop_address::from_text(std::string_view text, const std::string& from) {
    shop_address a;
    a.from = from;
    std::size_t at = 0, number = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line(text.substr(at, end - at));
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string name = line.substr(0, eq), value = eq == std::string::npos ? "" : line.substr(eq + 1);
        if (name == "TORVELA_SHOP") a.url = value;
        else if (name == "TORVELA_SHOP_TOKEN") a.token = value;
        else if (name == "TORVELA_SHOP_CA") a.ca = value;
        else {
            a.problem = from + " line " + std::to_string(number) +
                        ": not TORVELA_SHOP=URL, TORVELA_SHOP_TOKEN=TOKEN or TORVELA_SHOP_CA=FILE";
            return a;
        }
    }
    if (a.url.empty() && a.token.empty()) return a;
    if (a.url.rfind("http://", 0) != 0 && a.url.rfind("https://", 0) != 0)
        a.problem = from + ": TORVELA_SHOP is no http:// or https:// address" +
                    (a.url.empty() ? std::string() : " (\"" + a.url + "\")");
    else if (a.token.empty())
        a.problem = from + ": TORVELA_SHOP names a shop but TORVELA_SHOP_TOKEN gives no token";
    while (!a.url.empty() && a.url.back() == '/') a.url.pop_back();
    return a;
}

shop_address shop_address::for_user() {
    if (const std::string url = env("TORVELA_SHOP"); !url.empty() || !env("TORVELA_SHOP_TOKEN").empty()) {
        std::string text = "TORVELA_SHOP=" + url + "\nTORVELA_SHOP_TOKEN=" + env("TORVELA_SHOP_TOKEN") + "\n";
        if (const std::string ca = env("TORVELA_SHOP_CA"); !ca.empty()) text += "TORVELA_SHOP_CA=" + ca + "\n";
        return from_text(text, "the environment");
    }
    const fs::path folder = config_folder();
    shop_address none;
    if (folder.empty()) return none;
    const std::string where = utf8_from_path(folder / "shop.conf");
    held_folder config;
    std::string why;
    if (!config.open(folder, why)) {
        // No configuration folder: no shop named.
        std::error_code ec;
        if (fs::exists(folder, ec) || fs::is_symlink(folder, ec)) none.problem = where + " is not read: " + why;
        return none;
    }
    bool absent = false;
    std::FILE* in = config.open_own_file("shop.conf", absent, why);
    if (!in) {
        if (!absent) none.problem = where + " is not read: " + why;
        return none;
    }
    std::string text;
    const bool read = read_small(in, text);
    std::fclose(in);
    if (!read) {
        none.problem = where + " cannot be read whole";
        return none;
    }
#ifndef _WIN32
    // The token is the bench's key to the shop: no one else may read it.
    if (const file_identity id = config.identify("shop.conf"); (id.mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(id.mode & 07777));
        none.problem = where + " may be read by others (mode " + mode + "): chmod 600 it";
        return none;
    }
#endif
    return from_text(text, where);
}

std::string shop_record_json(const job_record& r) {
    std::string line = well_formed_record_line(r);
    line.pop_back();  // its newline
    return line;
}

std::string shop_refusal(const http_reply& reply) {
    if (reply.status == 0) return reply.error.empty() ? "no answer" : reply.error;
    if (const auto o = read_flat_object(reply.body)) {
        if (const auto e = o->find("error"); e != o->end())
            return "the shop answered " + std::to_string(reply.status) + ": " + e->second;
    }
    if (reply.status == 401) return "the shop refused this bench's token (401)";
    return "the shop answered " + std::to_string(reply.status);
}

bool shop_outbox::put(const job_record& r, std::string& why) const {
    if (!lower_hex(r.id, 32)) {
        why = "the record has no id of its own";
        return false;
    }
    held_folder out;
    bool absent = false;
    if (!history_.open_private("outbox", out, true, absent, why)) return false;
    const fs::path temp = path_from_utf8(torn_prefix + random_tag() + torn_suffix);
    return write_new_in(out, temp, path_from_utf8(r.id + entry_suffix), record_line(r), 0600, why);
}

shop_outbox::listing shop_outbox::waiting() const {
    held_folder out;
    bool absent = false;
    std::string why;
    if (history_.open_private("outbox", out, false, absent, why)) return read(out);
    listing l;
    if (!absent) l.refused = why;
    return l;
}

shop_outbox::listing shop_outbox::read(const held_folder& out) const {
    listing l;
    std::string why;
    for (const fs::path& p : out.names()) {
        const std::string name = utf8_from_path(p);
        if (name.rfind(torn_prefix, 0) == 0) {
            // What a killed job left half-written holds no record.
            out.remove_unheld_leftover(p);
            continue;
        }
        const std::size_t ends = name.size() - std::min(name.size(), std::string_view(entry_suffix).size());
        if (name.compare(ends, std::string::npos, entry_suffix) != 0 || !lower_hex(name.substr(0, ends), 32)) {
            l.notes.push_back(utf8_from_path(folder() / p) + " skipped: no record of the outbox");
            continue;
        }
        bool gone = false;
        std::FILE* in = out.open_own_file(p, gone, why);
        if (!in) {
            if (!gone) l.notes.push_back(utf8_from_path(folder() / p) + " skipped: " + why);
            continue;
        }
        std::string text;
        const bool read = read_small(in, text);
        std::fclose(in);
        // One line, as put() wrote it.
        const bool one_line = !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
        if (one_line) text.pop_back();
        const std::optional<job_record> r = read && one_line ? record_from_line(text) : std::nullopt;
        if (!r || r->id != name.substr(0, ends)) {
            l.notes.push_back(utf8_from_path(folder() / p) + " skipped: not the record the bench put there");
            continue;
        }
        l.entries.push_back({name, *r});
    }
    std::stable_sort(l.entries.begin(), l.entries.end(),
                     [](const entry& a, const entry& b) { return a.record.time < b.record.time; });
    return l;
}

shop_outbox::delivery shop_outbox::deliver(const shop_address& shop, http_client& http,
                                           std::chrono::steady_clock::time_point deadline,
                                           const std::atomic<bool>* cancel) const {
    delivery d;
    // One outbox folder, held from the listing to the last removal.
    held_folder out;
    bool absent = false;
    std::string refused;
    if (!history_.open_private("outbox", out, false, absent, refused)) {
        if (!absent) d.refused = refused;
        return d;
    }
    listing l = read(out);
    d.waiting = l.entries.size();
    d.notes = std::move(l.notes);
    if (!shop.problem.empty()) {
        d.why = shop.problem;
        return d;
    }
    auto left_ms = [&] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    };
    for (const entry& e : l.entries) {
        if (cancel && *cancel) break;
        if (left_ms() <= 0) {
            if (d.why.empty()) d.why = "the shop did not take them in time";
            break;
        }
        // The unit first: a record the shop holds names a unit it holds,
        // wherever the unit can still be read here.
        std::string bytes, why;
        if (!e.record.kept.empty() && history_.read_kept(e.record, bytes, why)) {
            const http_reply u = http.send(shop, "PUT", "/api/units/" + e.record.kept_sha256,
                                           "application/octet-stream", bytes, left_ms());
            if (u.status != 200 && u.status != 201) {
                d.why = "the kept unit " + e.record.kept + " did not go: " + shop_refusal(u);
                if (u.status == 0 || u.status == 401 || u.status >= 500) break;
                continue;
            }
        }
        const http_reply reply =
            http.send(shop, "POST", "/api/records", "application/json", shop_record_json(e.record), left_ms());
        if (reply.status == 200 || reply.status == 201) {
            if (out.remove(path_from_utf8(e.name)) && out.sync()) {
                ++d.sent;
                --d.waiting;
            }
            continue;
        }
        if (d.why.empty()) d.why = shop_refusal(reply);
        // A shop that does not answer, or refuses the bench, takes nothing
        // more now; one record it refuses leaves the others to go.
        if (reply.status == 0 || reply.status == 401 || reply.status >= 500) break;
    }
    if (d.waiting == 0) d.why.clear();
    return d;
}

std::string shop_outbox::waiting_note(const delivery& d) const {
    if (!d.refused.empty())
        return "the outbox for the shop is not read: " + d.refused +
               "; nothing in it goes to the shop until this user alone may write it";
    if (d.waiting == 0) return {};
    return std::to_string(d.waiting) + (d.waiting == 1 ? " record waits" : " records wait") + " for the shop in " +
           utf8_from_path(folder()) + ": " + d.why +
           "; they go with the next job or torvela-cli sync (the job itself is done and recorded here)";
}

struct shop_courier::state {
    state(const job_history& h, shop_address a, std::unique_ptr<http_client> c)
        : outbox(h), shop(std::move(a)), http(std::move(c)) {}
    shop_outbox outbox;
    shop_address shop;
    std::unique_ptr<http_client> http;
    std::mutex lock;
    std::condition_variable wake, done;
    std::uint64_t asked = 0, tried = 0;
    shop_outbox::delivery last{};
    std::optional<std::string> note;
    bool stop = false, ended = false;
    std::atomic<bool> stopping{false};

    void run() {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            wake.wait(hold, [&] { return stop || asked > tried; });
            if (stop) break;
            const std::uint64_t round = asked;
            hold.unlock();
            const shop_outbox::delivery d =
                outbox.deliver(shop, *http, std::chrono::steady_clock::now() + std::chrono::seconds(5), &stopping);
            hold.lock();
            last = d;
            tried = round;
            if (d.waiting > 0 || !d.refused.empty()) note = outbox.waiting_note(d);
            done.notify_all();
        }
        ended = true;
        done.notify_all();
    }
};

shop_courier::shop_courier(const job_history& history, shop_address shop, std::unique_ptr<http_client> http)
    : s_(std::make_shared<state>(history, std::move(shop), std::move(http))) {
    thread_ = std::thread([s = s_] { s->run(); });
}

shop_courier::~shop_courier() {
    std::unique_lock<std::mutex> hold(s_->lock);
    s_->stop = true;
    s_->stopping = true;
    s_->wake.notify_all();
    // A request under way has a second to end; past that it ends on its own.
    s_->done.wait_for(hold, std::chrono::seconds(1), [&] { return s_->ended; });
    const bool ended = s_->ended;
    hold.unlock();
    if (ended) thread_.join();
    else thread_.detach();
}

const shop_outbox& shop_courier::outbox() const { return s_->outbox; }

std::string shop_courier::publish(const job_record& r) {
    std::string why;
    const bool put = s_->outbox.put(r, why);
    {
        std::lock_guard<std::mutex> hold(s_->lock);
        ++s_->asked;
    }
    s_->wake.notify_all();
    return put ? std::string() : "the record of this job did not reach the outbox for the shop: " + why;
}

shop_outbox::delivery shop_courier::settle(int ms) {
    std::unique_lock<std::mutex> hold(s_->lock);
    const std::uint64_t want = s_->asked;
    s_->done.wait_for(hold, std::chrono::milliseconds(ms), [&] { return s_->tried >= want; });
    if (s_->tried >= want) return s_->last;
    // Still on its way: whatever the outbox holds waits.
    shop_outbox::delivery d;
    d.waiting = s_->outbox.waiting().entries.size();
    d.why = "the shop did not answer within " + std::to_string(ms / 1000) + " s";
    return d;
}

std::optional<std::string> shop_courier::take_note() {
    std::lock_guard<std::mutex> hold(s_->lock);
    std::optional<std::string> n;
    n.swap(s_->note);
    return n;
}

}  // namespace torvela
