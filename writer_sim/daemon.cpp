// torvela-writer-sim: the simulated writer on a pseudo-terminal. It makes
// the link comN in the tool's ports folder point at the terminal, takes the
// bytes the tool sends and answers at 57600-baud wire time in both
// directions, and removes the link when it stops.
//
// Beside the link it keeps comN.sim-pid: its process number and the
// terminal. A comN is replaced only when that file says it was made by a
// simulator that is gone and the link still points to that simulator's
// terminal; any other comN (a link to a real adapter) is the user's and
// is never touched: the simulator refuses to start.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "writer.hpp"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

std::atomic<bool> stop{false};
void on_signal(int) { stop = true; }

void usage(std::FILE* to = stderr) {
    std::fprintf(to,
                 "usage: torvela-writer-sim [options]\n"
                 "       torvela-writer-sim -h|--help | -V|--version\n"
                 "  --port N            link as comN in the ports folder (default 1)\n"
                 "  --ports-dir DIR     ports folder (default $XDG_CONFIG_HOME/torvela/ports)\n"
                 "  --load FILE         store image to start from (1 MB)\n"
                 "  --background        go on in the background once comN is linked; prints the\n"
                 "                      simulator's process number\n"
                 "  --blank             start with an erased store (default: a unit's CPU type,\n"
                 "                      machine version and 128 memories pages)\n"
                 "  --save FILE         store image written on exit\n"
                 "  --fault TAG:N:KIND  fault on the N-th reply TAG (echo:F5, done:A7, page:010500, ...);\n"
                 "                      KIND: no_reply wrong_echo ac_ac split extra_bytes truncated_page\n"
                 "                      corrupted_page drop_line replace=HEX (the bytes given instead)\n"
                 "  --erase-ms MS       time the writer takes to erase all flash\n"
                 "  --target-write-ms MS  time a target write takes\n"
                 "  --keep-frames       never drop a half-received frame, and go on with an exchange\n"
                 "                      when the tool went away (a writer without a receive timeout)\n"
                 "  --log               frames in hex on stderr\n");
}

bool parse_kind(const std::string& s, writer_sim::fault_kind& k, std::vector<std::uint8_t>& bytes) {
    using K = writer_sim::fault_kind;
    if (s.rfind("replace=", 0) == 0) {
        const std::string hex = s.substr(8);
        if (hex.empty() || hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        for (std::size_t i = 0; i < hex.size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        k = K::replace;
        return true;
    }
    const std::pair<const char*, K> kinds[] = {
        {"no_reply", K::no_reply},       {"wrong_echo", K::wrong_echo},
        {"ac_ac", K::ac_ac},             {"split", K::split},
        {"extra_bytes", K::extra_bytes}, {"truncated_page", K::truncated_page},
        {"corrupted_page", K::corrupted_page}, {"drop_line", K::drop_line}};
    for (const auto& [name, kind] : kinds)
        if (s == name) {
            k = kind;
            return true;
        }
    return false;
}

std::string default_ports_dir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = (xdg && *xdg) ? xdg : std::string(home ? home : ".") + "/.config";
    return base + "/torvela/ports";
}

void log_frame(bool enabled, const char* dir, const std::vector<std::uint8_t>& bytes) {
    if (!enabled || bytes.empty()) return;
    std::fprintf(stderr, "%s", dir);
    for (std::uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
}

// Empty when `link` is one a killed simulator left: its pid file names a
// process that is gone and the terminal the link still points to (whoever
// has that terminal's number now, the link is the dead simulator's). Else
// why the link must stay.
std::string why_not_stale(const std::string& link, const std::string& marker) {
    long pid = 0;
    std::string terminal;
    std::ifstream in(marker);
    in >> pid >> terminal;
    std::error_code ec;
    if (pid <= 0 || terminal.empty()) return "exists and was not made by the simulator";
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
        return "belongs to a simulated writer that runs (process " + std::to_string(pid) + ")";
    if (fs::symlink_status(link, ec).type() != fs::file_type::symlink || fs::read_symlink(link, ec) != terminal)
        return "was replaced since the simulator made it";
    return {};
}

// The pid file, made anew: never written through a link planted in its place.
bool write_marker(const std::string& marker, const std::string& terminal) {
    std::error_code ec;
    if (fs::is_symlink(marker, ec)) fs::remove(marker, ec);
    const int fd = open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string text = std::to_string(getpid()) + "\n" + terminal + "\n";
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && ok;
}

// What the command line asks for.
struct settings {
    int port = 1;
    std::string ports_dir = default_ports_dir(), load, save;
    bool log = false, blank = false, background = false;
};

// Reads the arguments into `set` and the writer's options and faults; an
// exit status when the program ends here.
std::optional<int> parse_arguments(int argc, char** argv, settings& set, writer_sim::writer& w) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--port") set.port = std::atoi(value().c_str());
        else if (a == "--ports-dir") set.ports_dir = value();
        else if (a == "--load") set.load = value();
        else if (a == "--save") set.save = value();
        else if (a == "--log") set.log = true;
        else if (a == "--blank") set.blank = true;
        else if (a == "--keep-frames") w.frame_pause_us = 0;
        else if (a == "--background") set.background = true;
        else if (a == "--erase-ms") w.erase_all_delay_us = std::strtoull(value().c_str(), nullptr, 10) * 1000;
        else if (a == "--target-write-ms") w.target_write_delay_us = std::strtoull(value().c_str(), nullptr, 10) * 1000;
        else if (a == "--fault") {
            const std::string f = value();
            // TAG may itself hold a colon: split at the last two.
            const auto k = f.rfind(':');
            const auto n = k == std::string::npos ? k : f.rfind(':', k - 1);
            writer_sim::fault_kind kind{};
            std::vector<std::uint8_t> bytes;
            if (n == std::string::npos || !parse_kind(f.substr(k + 1), kind, bytes)) return usage(), 2;
            w.add_fault({f.substr(0, n), std::atoi(f.substr(n + 1, k - n - 1).c_str()), kind, bytes});
        } else if (a == "--version" || a == "-V") {
            std::printf("torvela-writer-sim %s\n", TORVELA_VERSION);
            return 0;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            return usage(), 2;
        }
    }
    if (set.port < 1 || set.port > 16) return usage(), 2;
    return std::nullopt;
}

bool load_store(const settings& set, writer_sim::writer& w) {
    if (!set.load.empty()) {
        std::ifstream in(set.load, std::ios::binary);
        in.read(reinterpret_cast<char*>(w.store.data()), static_cast<std::streamsize>(w.store.size()));
        if (!in && in.gcount() == 0) {
            std::fprintf(stderr, "torvela-writer-sim: cannot read %s\n", set.load.c_str());
            return false;
        }
    } else if (!set.blank) {
        w.hold_sample_unit();
    }
    return true;
}

// --background: the simulator goes on in a child process, and the call
// returns once comN is linked, printing the child's process number; it
// fails with the child's status when the child cannot link. The exit
// status when this process ends here (the parent, or a failure); the child
// goes on with `ready_fd`, the pipe to tell the parent it is ready.
std::optional<int> go_background(bool background, int& ready_fd) {
    ready_fd = -1;
    if (!background) return std::nullopt;
    int p[2];
    if (pipe(p) != 0) return std::perror("pipe"), 1;
    const pid_t child = fork();
    if (child < 0) return std::perror("fork"), 1;
    if (child > 0) {
        close(p[1]);
        char ok = 0;
        if (read(p[0], &ok, 1) == 1) {
            std::printf("%ld\n", static_cast<long>(child));
            return 0;
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    close(p[0]);
    setsid();
    // Nothing of the caller's stays open: a $(...) around the call ends
    // when the parent does.
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ready_fd = p[1];
    return std::nullopt;
}

// The pseudo-terminal: its master, and its slave held open in raw mode so
// that the master stays readable while no tool is connected and no byte is
// changed or echoed.
struct terminal {
    int master = -1, slave = -1;
    std::string name;
};
std::optional<terminal> open_terminal() {
    terminal t;
    t.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (t.master < 0 || grantpt(t.master) != 0 || unlockpt(t.master) != 0) return std::perror("pseudo-terminal"), std::nullopt;
    t.name = ptsname(t.master);
    t.slave = open(t.name.c_str(), O_RDWR | O_NOCTTY);
    termios mode{};
    if (t.slave < 0 || tcgetattr(t.slave, &mode) != 0) return std::perror(t.name.c_str()), std::nullopt;
    cfmakeraw(&mode);
    cfsetspeed(&mode, B57600);
    tcsetattr(t.slave, TCSANOW, &mode);
    fcntl(t.master, F_SETFL, fcntl(t.master, F_GETFL) | O_NONBLOCK);
    return t;
}

// comN linked to the terminal, with the marker naming this process; a stale
// link of a killed simulator is taken over, anyone else's is left alone.
bool link_port(const std::string& link, const std::string& marker, const std::string& terminal_name) {
    std::error_code ec;
    fs::create_directories(fs::path(link).parent_path(), ec);
    if (fs::symlink_status(link, ec).type() != fs::file_type::not_found) {
        const std::string why = why_not_stale(link, marker);
        if (!why.empty()) {
            std::fprintf(stderr, "torvela-writer-sim: %s %s; it is left as it is.\n"
                                 "Choose another --port, or remove it yourself.\n",
                         link.c_str(), why.c_str());
            return false;
        }
        fs::remove(link, ec);  // left by a simulator that was killed
    }
    fs::create_symlink(terminal_name, link, ec);
    if (ec) {
        std::fprintf(stderr, "cannot make %s: %s\n", link.c_str(), ec.message().c_str());
        return false;
    }
    if (!write_marker(marker, terminal_name)) {
        std::fprintf(stderr, "cannot write %s: %s\n", marker.c_str(), std::strerror(errno));
        fs::remove(link, ec);
        return false;
    }
    return true;
}

// The parent of --background is told; the caller's pipe or terminal is let
// go too (a $(... 2>&1) ends now); a log file the caller chose goes on
// getting the frames.
void tell_ready(int ready_fd) {
    if (ready_fd < 0) return;
    const char ok = 1;
    if (write(ready_fd, &ok, 1) != 1) std::perror("ready");
    close(ready_fd);
    struct stat st {};
    if (fstat(STDERR_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
    }
}

// The line between the terminal and the writer: bytes each with the time it
// has crossed it, so the tool's bytes reach the writer one byte time after
// another, as on a real line, however fast the terminal hands them over.
class line_model {
public:
    line_model(const terminal& t, writer_sim::writer& w, bool log)
        : master_(t.master), slave_(t.slave), w_(w), log_(log) {}
    // Until a signal or the writer drops the line; true when it dropped.
    bool run() {
        bool dropped = false;
        w_.on_drop = [&] { dropped = true; };
        while (!stop && !dropped) {
            if (tool_died()) forget_the_tool();
            const auto now = clock_type::now();
            deliver_to_writer(now, dropped);
            send_to_tool(now);
            take_from_tool(wait_ms(now));
        }
        return dropped;
    }

private:
    struct timed {
        clock_type::time_point at;
        std::uint8_t byte;
    };
    static constexpr auto byte_time = std::chrono::microseconds(174);  // 10 bits at 57600 baud

    // A tool holds the terminal exclusively and under its lock while it
    // has the port open. Exclusive with nobody holding the lock: the tool
    // ended without giving the port back (killed, crashed), and the mode
    // would stay on the terminal, shutting every ordinary user out, for as
    // long as this side is open. A real port drops it at its last close.
    bool tool_died() {
        int exclusive = 0;
        if (ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return false;
        if (flock(slave_, LOCK_EX | LOCK_NB) != 0) return false;
        ioctl(slave_, TIOCNXCL);
        flock(slave_, LOCK_UN);
        return true;
    }
    // Nothing of the dead tool's exchange goes to the next one: the frame it
    // left half sent, the replies not yet on the line.
    void forget_the_tool() {
        // A writer without a receive timeout knows nothing of the tool: it
        // sends what it was sending and waits for the rest of its frame.
        if (w_.frame_pause_us == 0) return;
        std::fprintf(stderr, "torvela-writer-sim: the tool ended without closing the port; its exchange is dropped\n");
        incoming_.clear();
        outgoing_.clear();
        w_.line_quiet(UINT64_MAX);
        tcflush(slave_, TCIOFLUSH);
    }

    void deliver_to_writer(clock_type::time_point now, const bool& dropped) {
        while (!incoming_.empty() && incoming_.front().at <= now && !dropped) {
            const timed in = incoming_.front();
            incoming_.pop_front();
            rx_log_.push_back(in.byte);
            // Quiet since the last byte either way.
            const auto last = std::max(last_in_, line_free_);
            const auto quiet = std::chrono::duration_cast<std::chrono::microseconds>(in.at - last).count();
            w_.line_quiet(quiet > 0 ? static_cast<std::uint64_t>(quiet) : 0);
            last_in_ = in.at;
            std::vector<writer_sim::reply> replies;
            w_.receive(in.byte, replies);
            if (!replies.empty()) {
                log_frame(log_, "tool ->", rx_log_);
                rx_log_.clear();
            }
            auto ready = in.at;
            for (const auto& r : replies) {
                ready += std::chrono::microseconds(r.delay_us);
                auto at = std::max(ready, line_free_);
                for (std::uint8_t b : r.bytes) outgoing_.push_back({at += byte_time, b});
                line_free_ = ready = at;
            }
        }
    }
    void send_to_tool(clock_type::time_point now) {
        while (!outgoing_.empty() && outgoing_.front().at <= now) {
            const std::uint8_t b = outgoing_.front().byte;
            if (write(master_, &b, 1) != 1) break;
            tx_log_.push_back(b);
            outgoing_.pop_front();
        }
        if (outgoing_.empty() && !tx_log_.empty()) {
            log_frame(log_, "writer ->", tx_log_);
            tx_log_.clear();
        }
    }
    int wait_ms(clock_type::time_point now) const {
        // Often enough that a port a killed tool left exclusive is free
        // again before anyone could start the next job.
        int timeout_ms = 20;
        for (const std::deque<timed>* q : {&outgoing_, &incoming_}) {
            if (q->empty()) continue;
            // Rounded up: bytes go in small bursts rather than in a busy loop.
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(q->front().at - now);
            timeout_ms = std::min(timeout_ms, static_cast<int>(std::max<long long>(0, wait.count())));
        }
        return timeout_ms;
    }
    void take_from_tool(int timeout_ms) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) < 0 || !(p.revents & POLLIN)) return;
        std::uint8_t buf[512];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;
        in_free_ = std::max(in_free_, clock_type::now());
        for (ssize_t i = 0; i < n; ++i) incoming_.push_back({in_free_ += byte_time, buf[i]});
    }

    int master_, slave_;
    writer_sim::writer& w_;
    bool log_;
    std::deque<timed> outgoing_, incoming_;
    clock_type::time_point line_free_ = clock_type::now(), in_free_ = clock_type::now(), last_in_{};
    std::vector<std::uint8_t> rx_log_, tx_log_;
};

// Only our own link goes; whoever replaced it keeps theirs.
void unlink_port(const std::string& link, const std::string& marker, const std::string& terminal_name) {
    std::error_code ec;
    if (fs::read_symlink(link, ec) == fs::path(terminal_name)) fs::remove(link, ec);
    long marker_pid = 0;
    std::ifstream(marker) >> marker_pid;
    if (marker_pid == static_cast<long>(getpid())) fs::remove(marker, ec);
}

}  // namespace

int main(int argc, char** argv) {
    settings set;
    writer_sim::writer w;
    w.erase_all_delay_us = 400'000;
    if (const auto done = parse_arguments(argc, argv, set, w)) return *done;
    if (!load_store(set, w)) return 2;
    int ready_fd = -1;
    if (const auto done = go_background(set.background, ready_fd)) return *done;
    const auto term = open_terminal();
    if (!term) return 1;
    const std::string link = set.ports_dir + "/com" + std::to_string(set.port);
    const std::string marker = link + ".sim-pid";
    if (!link_port(link, marker, term->name)) return 1;
    std::fprintf(stderr, "simulated writer on %s, linked as %s\n", term->name.c_str(), link.c_str());
    tell_ready(ready_fd);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGHUP, on_signal);
    const bool dropped = line_model(*term, w, set.log).run();
    unlink_port(link, marker, term->name);
    if (!set.save.empty()) {
        std::ofstream out(set.save, std::ios::binary);
        out.write(reinterpret_cast<const char*>(w.store.data()), static_cast<std::streamsize>(w.store.size()));
    }
    close(term->slave);
    close(term->master);
    if (dropped) std::fprintf(stderr, "line dropped\n");
    return dropped ? 3 : 0;
}
