// What torvela-cli prints on standard output: lines for a person (the
// status lines with the seconds since the start, the progress line of the
// pass under way, results), or with --json one JSON object a line for a
// script.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/json_text.hpp"
#include <string_view>
#include <vector>

namespace torvela {
struct main_form;
class progress_line;
}  // namespace torvela

namespace cli {

// A field of a JSON object: a text, a whole number or a yes/no.
struct field {
    std::string key;
    std::string text;
    long long number = 0;
    bool is_number = false;
    bool is_bool = false;
};
inline field text_field(std::string key, std::string value) { return {std::move(key), std::move(value)}; }
inline field number_field(std::string key, long long value) { return {std::move(key), {}, value, true}; }
inline field bool_field(std::string key, bool value) { return {std::move(key), {}, value ? 1 : 0, false, true}; }

using torvela::json_string;
// A text for a terminal or a file: control bytes and bytes that are not
// UTF-8 as \xXX, so that nothing written reaches a terminal as a command.
std::string printable(std::string_view s);

enum class style : std::uint8_t { plain, terminal, json };

class output {
public:
    output(style how, bool quiet);
    double seconds() const;
    // A status line or a trace line, with the seconds since the start.
    void status(const std::string& text);
    void trace(const std::string& text);
    // The pass under way: on a terminal one line redrawn in place; else a
    // line (or object) every 16 pages and at the pass's last.
    void progress(const torvela::main_form& f, const torvela::progress_line& line);
    // A result: `line` for a person, one object of `fields` for a script.
    void result(const std::string& line, const std::vector<field>& fields);
    // The end: with --quiet the last status for a person; for a script the
    // outcome, the status, what happened and the exit status.
    void end(const std::string& outcome, const std::string& status, const std::string& detail, int exit_status);
    // The progress line's last figures stay; what follows starts a new line.
    void finish();
    bool json() const { return how_ == style::json; }

private:
    void line(const std::string& text);
    void object(const std::vector<field>& fields);
    // One object of the seconds since the start ("t") and `fields`, JSON
    // already.
    void timed_object(const std::string& fields);
    void clear();
    style how_;
    bool quiet_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::string drawn_;
    std::uint32_t pass_ = 0;
    int done_ = -1;
};

}  // namespace cli
