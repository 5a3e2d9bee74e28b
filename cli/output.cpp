#include "console.hpp"
#include "output.hpp"

#include <cstdio>

#include "console/main_form.hpp"
#include "platform/json_text.hpp"
#include "window/front.hpp"

namespace cli {

using torvela::utf8_length;

std::string printable(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto byte = static_cast<unsigned char>(s[i]);
        const std::size_t len = utf8_length(s, i);
        if (byte == '\n' || (len == 1 && byte >= 0x20 && byte != 0x7F) || len > 1) {
            out.append(s.substr(i, len == 0 ? 1 : len));
            i += len == 0 ? 1 : len;
            continue;
        }
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02X", byte);
        out += esc;
        ++i;
    }
    return out;
}

output::output(style how, bool quiet) : how_(how), quiet_(quiet) {}

double output::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void output::line(const std::string& text) {
    clear();
    say(stdout, "%8.3f  %s\n", seconds(), printable(text).c_str());
    std::fflush(stdout);
}

void output::object(const std::vector<field>& fields) {
    std::string o = "{";
    for (const field& f : fields) {
        if (o.size() > 1) o += ",";
        o += json_string(f.key) + ":" +
             (f.is_bool ? (f.number ? "true" : "false") : f.is_number ? std::to_string(f.number) : json_string(f.text));
    }
    say(stdout, "%s}\n", o.c_str());
    std::fflush(stdout);
}

void output::timed_object(const std::string& fields) {
    say(stdout, "{\"t\":%.3f,%s}\n", seconds(), fields.c_str());
    std::fflush(stdout);
}

void output::status(const std::string& text) {
    if (quiet_) return;
    if (json())
        timed_object("\"status\":" + json_string(text));
    else
        line(text);
}

void output::trace(const std::string& text) {
    if (json())
        timed_object("\"trace\":" + json_string(text));
    else
        line(text);
}

void output::progress(const torvela::main_form& f, const torvela::progress_line& pl) {
    const auto& p = f.progress;
    if (quiet_ || p.total == 0) return;
    if (how_ == style::terminal) {
        // A pass's last figures are drawn once, not again under every
        // status line that follows it.
        if (pl.text() == drawn_ || (p.pass == pass_ && p.done == p.total && done_ == p.total)) return;
        pass_ = p.pass, done_ = p.done;
        // Padded over what stood there before; no terminal codes needed.
        say(stdout, "\r%8.3f  %-*s", seconds(), static_cast<int>(drawn_.size()), pl.text().c_str());
        std::fflush(stdout);
        drawn_ = pl.text();
        return;
    }
    if ((p.pass == pass_ && p.done == done_) || (p.done % 16 != 0 && p.done != p.total)) return;
    pass_ = p.pass, done_ = p.done;
    if (!json()) {
        line(pl.text());
        return;
    }
    timed_object("\"pass\":\"" + std::string(torvela::pass_name(p.what)) + "\",\"done\":" + std::to_string(p.done) +
                 ",\"total\":" + std::to_string(p.total) +
                 (pl.left_ms() >= 0 ? ",\"left_s\":" + std::to_string((pl.left_ms() + 999) / 1000) : ""));
}

void output::result(const std::string& text, const std::vector<field>& fields) {
    if (json()) {
        object(fields);
        return;
    }
    clear();
    say(stdout, "%s\n", printable(text).c_str());
}

void output::end(const std::string& outcome, const std::string& status, const std::string& detail, int exit_status) {
    finish();
    if (json()) {
        std::vector<field> fields = {number_field("exit", exit_status), text_field("outcome", outcome),
                                     text_field("status", status)};
        if (!detail.empty()) fields.push_back(text_field("detail", detail));
        object(fields);
        return;
    }
    if (quiet_ && !status.empty()) say(stdout, "%s\n", printable(status).c_str());
}

void output::finish() {
    if (!drawn_.empty()) say(stdout, "\n");
    drawn_.clear();
    std::fflush(stdout);
}

void output::clear() {
    if (drawn_.empty()) return;
    say(stdout, "\r%*s\r", static_cast<int>(drawn_.size()) + 10, "");
    drawn_.clear();
}

}  // namespace cli
