// torvela-shop: the shop's record of every bench's jobs and kept units, in
// PostgreSQL, served to the benches and to a browser.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "service.hpp"
#include "store.hpp"

namespace {

constexpr const char* usage_text =
    "usage: torvela-shop init --database URI\n"
    "       torvela-shop add-bench NAME [--viewer] --database URI\n"
    "       torvela-shop remove-bench NAME --database URI\n"
    "       torvela-shop serve --database URI [--listen HOST:PORT] [--certificate FILE --key FILE]\n"
    "                          [--insecure-lan]\n"
    "       torvela-shop --help | --version\n\n"
    "The database URI is PostgreSQL's (postgresql:///torvela_shop, postgresql://user@host/db);\n"
    "$TORVELA_SHOP_DATABASE when --database is not given.\n"
    "  init          makes the schema, or brings an older one to this version\n"
    "  add-bench     a bench (or with --viewer, a token that only reads: the page's sign-in);\n"
    "                its token on the last line, shown this once (the shop keeps its hash)\n"
    "  remove-bench  the bench's token opens the shop no more; its records stay\n"
    "  serve         the service and its page at HOST:PORT (default 127.0.0.1:8470); plain\n"
    "                HTTP beyond loopback only with --insecure-lan\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "torvela-shop: %s\nTry 'torvela-shop --help' for more information.\n", why.c_str());
    return 2;
}

bool plain_name(const std::string& n) {
    if (n.empty() || n.size() > 64) return false;
    for (const char c : n)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.'))
            return false;
    return true;
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) return usage_error("no command");
    if (args[0] == "--help" || args[0] == "help") {
        std::fputs(usage_text, stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("torvela-shop %s\n", TORVELA_VERSION);
        return 0;
    }
    const std::string command = args[0];
    std::string database, name;
    shop::serve_settings serve;
    bool viewer = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        std::string listen;
        if (a == "--database") {
            if (!value(database)) return usage_error("--database needs a URI");
        } else if (a == "--listen" && command == "serve") {
            if (!value(listen)) return usage_error("--listen needs HOST:PORT");
            const std::size_t colon = listen.rfind(':');
            const std::string port = colon == std::string::npos ? "" : listen.substr(colon + 1);
            if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(port) > 65535)
                return usage_error("--listen: HOST:PORT, as 127.0.0.1:8470");
            serve.host = listen.substr(0, colon);
            serve.port = std::stoi(port);
        } else if (a == "--certificate" && command == "serve") {
            if (!value(serve.certificate)) return usage_error("--certificate needs a FILE");
        } else if (a == "--key" && command == "serve") {
            if (!value(serve.key)) return usage_error("--key needs a FILE");
        } else if (a == "--insecure-lan" && command == "serve") {
            serve.insecure_lan = true;
        } else if (a == "--viewer" && command == "add-bench") {
            viewer = true;
        } else if (!a.empty() && a[0] == '-') {
            return usage_error("unknown option " + a + " for " + command);
        } else if (name.empty() && (command == "add-bench" || command == "remove-bench")) {
            name = a;
        } else {
            return usage_error("too many arguments");
        }
    }
    if (command != "init" && command != "add-bench" && command != "remove-bench" && command != "serve")
        return usage_error("unknown command " + command);
    if ((command == "add-bench" || command == "remove-bench") && !plain_name(name))
        return usage_error(command + " needs a NAME of letters, digits, '-', '_' and '.' (at most 64)");
    if (database.empty())
        if (const char* env = std::getenv("TORVELA_SHOP_DATABASE")) database = env;
    if (database.empty()) return usage_error(command + " needs --database URI (or TORVELA_SHOP_DATABASE)");
    if (command == "serve")
        if (const std::string why = shop::serve_refusal(serve); !why.empty()) return usage_error(why);

    shop::store db(database);
    try {
        if (command == "init") {
            std::string said;
            const bool ok = db.init(said);
            std::fprintf(ok ? stdout : stderr, "torvela-shop: %s\n", said.c_str());
            return ok ? 0 : 1;
        }
        if (db.version() != shop::schema_version) {
            std::fprintf(stderr,
                         "torvela-shop: the database holds no shop of schema version %d: run torvela-shop init "
                         "--database URI first\n",
                         shop::schema_version);
            return 1;
        }
        if (command == "add-bench") {
            std::string token, why;
            if (!db.add_member(name, viewer, token, why)) {
                std::fprintf(stderr, "torvela-shop: %s\n", why.c_str());
                return 1;
            }
            std::printf("torvela-shop: %s %s added; its token, shown this once (the shop keeps only its hash):\n%s\n",
                        viewer ? "viewer" : "bench", name.c_str(), token.c_str());
            return 0;
        }
        if (command == "remove-bench") {
            std::string why;
            if (!db.remove_member(name, why)) {
                std::fprintf(stderr, "torvela-shop: %s\n", why.c_str());
                return 1;
            }
            std::printf("torvela-shop: %s's token opens the shop no more; its records stay\n", name.c_str());
            return 0;
        }
        return shop::serve(db, serve);
    } catch (const std::exception& e) {
        // The URI may hold a password: it is not repeated.
        std::fprintf(stderr, "torvela-shop: the database: %s\n", e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
