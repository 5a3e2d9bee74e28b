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
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
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

}  // namespace

int main(int argc, char** argv) {
    int port = 1;
    std::string ports_dir = default_ports_dir(), load, save;
    bool log = false, blank = false, background = false;
    writer_sim::writer w;
    w.erase_all_delay_us = 400'000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--port") port = std::atoi(value().c_str());
        else if (a == "--ports-dir") ports_dir = value();
        else if (a == "--load") load = value();
        else if (a == "--save") save = value();
        else if (a == "--log") log = true;
        else if (a == "--blank") blank = true;
        else if (a == "--background") background = true;
        else if (a == "--erase-ms") w.erase_all_delay_us = std::strtoull(value().c_str(), nullptr, 10) * 1000;
        else if (a == "--target-write-ms") w.target_write_delay_us = std::strtoull(value().c_str(), nullptr, 10) * 1000;
        else if (a == "--fault") {
            const std::string f = value();
            // TAG may itself hold a colon: split at the last two.
            const auto k = f.rfind(':');
            const auto n = k == std::string::npos ? k : f.rfind(':', k - 1);
            writer_sim::fault_kind kind{};
            std::vector<std::uint8_t> bytes;
            if (n == std::string::npos || !parse_kind(f.substr(k + 1), kind, bytes)) {
                usage();
                return 2;
            }
            w.add_fault({f.substr(0, n), std::atoi(f.substr(n + 1, k - n - 1).c_str()), kind, bytes});
        } else if (a == "--version" || a == "-V") {
            std::printf("torvela-writer-sim %s\n", TORVELA_VERSION);
            return 0;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (port < 1 || port > 16) {
        usage();
        return 2;
    }
    if (!load.empty()) {
        std::ifstream in(load, std::ios::binary);
        in.read(reinterpret_cast<char*>(w.store.data()), static_cast<std::streamsize>(w.store.size()));
        if (!in && in.gcount() == 0) {
            std::fprintf(stderr, "torvela-writer-sim: cannot read %s\n", load.c_str());
            return 2;
        }
    } else if (!blank) {
        w.hold_sample_unit();
    }

    // --background: the simulator goes on in a child process, and the call
    // returns once comN is linked, printing the child's process number; it
    // fails with the child's status when the child cannot link.
    int ready_fd = -1;
    if (background) {
        int p[2];
        if (pipe(p) != 0) {
            std::perror("pipe");
            return 1;
        }
        const pid_t child = fork();
        if (child < 0) {
            std::perror("fork");
            return 1;
        }
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
        ready_fd = p[1];
        setsid();
        // Nothing of the caller's stays open: a $(...) around the call ends
        // when the parent does.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    const std::string slave_name = ptsname(master);
    // Holding the slave open keeps the master readable while no tool is
    // connected; raw mode so that no byte is changed or echoed.
    const int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (slave < 0 || tcgetattr(slave, &t) != 0) {
        std::perror(slave_name.c_str());
        return 1;
    }
    cfmakeraw(&t);
    cfsetspeed(&t, B57600);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    std::error_code ec;
    fs::create_directories(ports_dir, ec);
    const std::string link = ports_dir + "/com" + std::to_string(port);
    const std::string marker = link + ".sim-pid";
    if (fs::symlink_status(link, ec).type() != fs::file_type::not_found) {
        const std::string why = why_not_stale(link, marker);
        if (!why.empty()) {
            std::fprintf(stderr, "torvela-writer-sim: %s %s; it is left as it is.\n"
                                 "Choose another --port, or remove it yourself.\n",
                         link.c_str(), why.c_str());
            return 1;
        }
        fs::remove(link, ec);  // left by a simulator that was killed
    }
    fs::create_symlink(slave_name, link, ec);
    if (ec) {
        std::fprintf(stderr, "cannot make %s: %s\n", link.c_str(), ec.message().c_str());
        return 1;
    }
    if (!write_marker(marker, slave_name)) {
        std::fprintf(stderr, "cannot write %s: %s\n", marker.c_str(), std::strerror(errno));
        fs::remove(link, ec);
        return 1;
    }
    std::fprintf(stderr, "simulated writer on %s, linked as %s\n", slave_name.c_str(), link.c_str());
    if (ready_fd >= 0) {
        const char ok = 1;
        if (write(ready_fd, &ok, 1) != 1) std::perror("ready");
        close(ready_fd);
        // The caller's pipe or terminal is let go too (a $(... 2>&1) ends
        // now); a log file the caller chose goes on getting the frames.
        struct stat st {};
        if (fstat(STDERR_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, STDERR_FILENO);
                close(null);
            }
        }
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGHUP, on_signal);

    bool dropped = false;
    w.on_drop = [&] { dropped = true; };

    // Bytes on the line, each with the time it has crossed it: the tool's
    // bytes reach the writer one byte time after another, as on a real
    // line, however fast the terminal hands them over.
    struct timed {
        clock_type::time_point at;
        std::uint8_t byte;
    };
    std::deque<timed> outgoing, incoming;
    const auto byte_time = std::chrono::microseconds(174);  // 10 bits at 57600 baud
    clock_type::time_point line_free = clock_type::now(), in_free = clock_type::now();
    std::vector<std::uint8_t> rx_log, tx_log;

    while (!stop && !dropped) {
        const auto now = clock_type::now();
        while (!incoming.empty() && incoming.front().at <= now && !dropped) {
            const timed in = incoming.front();
            incoming.pop_front();
            rx_log.push_back(in.byte);
            std::vector<writer_sim::reply> replies;
            w.receive(in.byte, replies);
            if (!replies.empty()) {
                log_frame(log, "tool ->", rx_log);
                rx_log.clear();
            }
            auto ready = in.at;
            for (const auto& r : replies) {
                ready += std::chrono::microseconds(r.delay_us);
                auto at = std::max(ready, line_free);
                for (std::uint8_t b : r.bytes) {
                    at += byte_time;
                    outgoing.push_back({at, b});
                }
                line_free = at;
                ready = at;
            }
        }
        while (!outgoing.empty() && outgoing.front().at <= now) {
            const std::uint8_t b = outgoing.front().byte;
            if (write(master, &b, 1) != 1) break;
            tx_log.push_back(b);
            outgoing.pop_front();
        }
        if (outgoing.empty() && !tx_log.empty()) {
            log_frame(log, "writer ->", tx_log);
            tx_log.clear();
        }
        int timeout_ms = 100;
        for (const std::deque<timed>* q : {&outgoing, &incoming}) {
            if (q->empty()) continue;
            // Rounded up: bytes go in small bursts rather than in a busy loop.
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(q->front().at - now);
            timeout_ms = std::min(timeout_ms, static_cast<int>(std::max<long long>(0, wait.count())));
        }
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) < 0) continue;
        if (!(p.revents & POLLIN)) continue;
        std::uint8_t buf[512];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) continue;
        in_free = std::max(in_free, clock_type::now());
        for (ssize_t i = 0; i < n; ++i) {
            in_free += byte_time;
            incoming.push_back({in_free, buf[i]});
        }
    }

    // Only our own link goes; whoever replaced it keeps theirs.
    if (fs::read_symlink(link, ec) == fs::path(slave_name)) fs::remove(link, ec);
    long marker_pid = 0;
    std::ifstream(marker) >> marker_pid;
    if (marker_pid == static_cast<long>(getpid())) fs::remove(marker, ec);
    if (!save.empty()) {
        std::ofstream out(save, std::ios::binary);
        out.write(reinterpret_cast<const char*>(w.store.data()), static_cast<std::streamsize>(w.store.size()));
    }
    close(slave);
    close(master);
    if (dropped) std::fprintf(stderr, "line dropped\n");
    return dropped ? 3 : 0;
}
