#include "service.hpp"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "page_files.hpp"

namespace shop {

namespace {

using json = nlohmann::json;

// The members a bench's record may hold: the history's own.
const std::set<std::string> record_keys = {
    "torvela_history", "id", "time", "program", "port", "device", "operation", "file", "file_resolved",
    "file_sha256", "unit_sha256", "cpu", "machine_version", "write_counts", "outcome", "status", "detail",
    "kept", "kept_sha256"};
const std::set<std::string> digest_keys = {"file_sha256", "unit_sha256", "kept_sha256"};

bool is_hex(const std::string& s, std::size_t n) {
    return s.size() == n && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void answer(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace) + "\n", "application/json");
}
void refuse(httplib::Response& res, int status, const std::string& why) { answer(res, status, {{"error", why}}); }

// Why the record cannot be stored as it came; empty when it can.
std::string record_problem(const json& r) {
    if (!r.is_object()) return "a record is one JSON object";
    if (!r.contains("torvela_history") || r["torvela_history"] != 1)
        return "the record is not of the job history's format 1";
    for (const auto& [key, value] : r.items()) {
        if (!record_keys.count(key)) return "the record holds \"" + key + "\", which no job record holds";
        if (key == "torvela_history") continue;
        if (!value.is_string()) return "\"" + key + "\" is not a text";
        const std::string& text = value.get_ref<const std::string&>();
        if (text.size() > 16 * 1024) return "\"" + key + "\" is longer than any record's";
        if (digest_keys.count(key) && !is_hex(text, 64)) return "\"" + key + "\" is no SHA-256";
    }
    for (const char* needed : {"id", "time", "operation", "outcome"})
        if (!r.contains(needed)) return std::string("the record has no \"") + needed + "\"";
    if (!is_hex(r["id"].get<std::string>(), 32)) return "\"id\" is not the 32 hex digits a bench makes";
    return {};
}

std::string bearer(const httplib::Request& req) {
    const std::string h = req.get_header_value("Authorization");
    return h.rfind("Bearer ", 0) == 0 ? h.substr(7) : std::string();
}

// Every answer: nothing from elsewhere, no framing, no guessing of types.
void harden(httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
                   "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
}

bool loopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

}  // namespace

std::string serve_refusal(const serve_settings& s) {
    if (s.certificate.empty() != s.key.empty()) return "--certificate and --key go together";
    if (!s.certificate.empty() || loopback(s.host) || s.insecure_lan) return {};
    return "plain HTTP beyond loopback would carry the benches' tokens and units readable by anyone on the "
           "network: give --certificate FILE --key FILE, or --insecure-lan to serve " + s.host + " without them";
}

int serve(store& db, const serve_settings& s) {
    std::unique_ptr<httplib::Server> server;
    if (!s.certificate.empty()) server = std::make_unique<httplib::SSLServer>(s.certificate.c_str(), s.key.c_str());
    else server = std::make_unique<httplib::Server>();
    if (!server->is_valid()) {
        std::fprintf(stderr, "torvela-shop: the certificate %s or the key %s cannot be used\n", s.certificate.c_str(),
                     s.key.c_str());
        return 1;
    }
    httplib::Server& http = *server;
    http.set_payload_max_length(unit_limit + 4096);

    // Who asks: a bench or a viewer, or an answer of 401 and nothing done.
    auto who = [&](const httplib::Request& req, httplib::Response& res) -> std::optional<member> {
        const std::string token = bearer(req);
        std::optional<member> m;
        if (!token.empty() && token.size() <= 256) m = db.member_of(token);
        if (!m) refuse(res, 401, "no token of this shop's: sign in with a bench's or a viewer's token");
        return m;
    };
    auto publisher = [&](const httplib::Request& req, httplib::Response& res) -> std::optional<member> {
        std::optional<member> m = who(req, res);
        if (m && m->viewer) {
            refuse(res, 403, "a viewer's token reads the shop and adds nothing to it");
            return std::nullopt;
        }
        return m;
    };

    http.set_pre_routing_handler([](const httplib::Request&, httplib::Response& res) {
        harden(res);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(ep);
        } catch (const pqxx::broken_connection&) {
            refuse(res, 503, "the shop's database cannot be reached now: the bench keeps its record and sends it again");
            return;
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        std::fprintf(stderr, "torvela-shop: a request failed: %s\n", what.c_str());
        refuse(res, 500, "the shop could not do this now: nothing was stored");
    });

    http.Post("/api/records", [&](const httplib::Request& req, httplib::Response& res) {
        const std::optional<member> m = publisher(req, res);
        if (!m) return;
        if (req.body.size() > record_limit) return refuse(res, 413, "a record is never this long");
        const json r = json::parse(req.body, nullptr, false);
        if (r.is_discarded()) return refuse(res, 400, "the record is not well-formed JSON");
        if (const std::string why = record_problem(r); !why.empty()) return refuse(res, 400, why);
        const std::string id = r["id"].get<std::string>();
        switch (db.add_record(m->name, id, r.dump())) {
        case store::stored::added: return answer(res, 201, {{"stored", "added"}, {"bench", m->name}, {"id", id}});
        case store::stored::already: return answer(res, 200, {{"stored", "already"}, {"bench", m->name}, {"id", id}});
        case store::stored::conflict:
            return refuse(res, 409, "record " + id + " of " + m->name + " was stored before with other content: "
                                    "nothing was changed");
        }
    });

    http.Put(R"(/api/units/([0-9a-f]{64}))", [&](const httplib::Request& req, httplib::Response& res) {
        const std::optional<member> m = publisher(req, res);
        if (!m) return;
        const std::string sha = req.matches[1];
        if (req.body.empty() || req.body.size() > unit_limit) return refuse(res, 413, "no unit is this size");
        // What arrived is what the bench kept, or nothing is stored.
        if (const std::string got = sha256_hex(req.body); got != sha)
            return refuse(res, 422, "the unit that arrived has SHA-256 " + got + ", not " + sha + ": nothing was stored");
        const bool added = db.add_unit(sha, req.body, m->name);
        answer(res, added ? 201 : 200, {{"stored", added ? "added" : "already"}, {"sha256", sha}});
    });

    http.Get(R"(/api/units/([0-9a-f]{64}))", [&](const httplib::Request& req, httplib::Response& res) {
        if (!who(req, res)) return;
        const std::string sha = req.matches[1];
        const std::optional<std::string> bytes = db.unit(sha);
        if (!bytes) return refuse(res, 404, "the shop holds no unit " + sha);
        res.set_header("Content-Disposition", "attachment; filename=\"" + sha + ".dat\"");
        res.set_content(*bytes, "application/octet-stream");
    });

    // Every bench's records, oldest first, one JSON object a line.
    http.Get("/api/records", [&](const httplib::Request& req, httplib::Response& res) {
        if (!who(req, res)) return;
        record_filter f;
        f.bench = req.get_param_value("bench");
        f.unit = req.get_param_value("unit");
        f.outcome = req.get_param_value("outcome");
        f.id = req.get_param_value("id");
        try {
            if (req.has_param("after")) f.after = std::stoll(req.get_param_value("after"));
            if (req.has_param("limit")) f.limit = std::clamp(std::stoll(req.get_param_value("limit")), 1LL, 10000LL);
        } catch (const std::exception&) {
            return refuse(res, 400, "after and limit are whole numbers");
        }
        std::string out;
        for (const stored_record& stored : db.records(f)) {
            json o = json::parse(stored.record, nullptr, false);
            if (!o.is_object()) continue;
            o["bench"] = stored.bench;
            o["received"] = stored.received;
            o["seq"] = std::to_string(stored.seq);
            o["unit_held"] = stored.unit_held ? "yes" : "no";
            out += o.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
        }
        res.set_content(out, "application/x-ndjson");
    });

    http.Get("/api/whoami", [&](const httplib::Request& req, httplib::Response& res) {
        if (const auto m = who(req, res)) answer(res, 200, {{"name", m->name}, {"viewer", m->viewer}});
    });

    for (const page_file& p : page_files)
        http.Get(p.path, [&p](const httplib::Request&, httplib::Response& res) {
            res.set_content(p.text, std::string(p.type) + "; charset=utf-8");
        });

    http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 413) return refuse(res, 413, "the request is larger than any record or unit");
        if (req.path.rfind("/api/", 0) == 0) refuse(res, res.status, "no such request");
    });

    // SIGTERM (systemd's stop) and SIGINT end the service between requests.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        http.stop();
    });

    // The library listens with a backlog of 5: a shop's benches ending
    // their jobs at once would find their connections refused. The
    // listening socket is given the system's backlog once bound.
    int listening = -1;
    http.set_socket_options([&listening](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listening = sock;
    });
    int port = s.port;
    const bool bound = port == 0 ? (port = http.bind_to_any_port(s.host)) > 0 : http.bind_to_port(s.host, port);
    if (bound && listening >= 0) ::listen(listening, SOMAXCONN);
    if (!bound) {
        std::fprintf(stderr, "torvela-shop: %s port %d cannot be listened on (taken, or not this machine's)\n",
                     s.host.c_str(), s.port);
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
        return 1;
    }
    std::printf("torvela-shop: serving %s://%s:%d\n", s.certificate.empty() ? "http" : "https", s.host.c_str(), port);
    std::fflush(stdout);
    http.listen_after_bind();
    if (stopper.joinable()) {
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    return 0;
}

}  // namespace shop
