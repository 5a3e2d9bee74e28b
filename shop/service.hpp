// The shop's HTTP(S) service: what benches publish and read, and the page.
#pragma once

#include <string>

#include "store.hpp"

namespace shop {

struct serve_settings {
    std::string host = "127.0.0.1";
    int port = 8470;  // 0: any free port (the one bound is printed)
    std::string certificate, key;  // both: HTTPS
    bool insecure_lan = false;
};

// The largest record and unit the shop takes; a request larger than a
// unit's is refused before it is read.
inline constexpr std::size_t record_limit = 64 * 1024;
inline constexpr std::size_t unit_limit = 512 * 1024;

// Why the settings must not be served (plain HTTP beyond loopback); empty
// when they may.
std::string serve_refusal(const serve_settings& s);
// Serves until SIGTERM or SIGINT; the exit status.
int serve(store& db, const serve_settings& s);

}  // namespace shop
