// POSIX: a terminal device in raw mode, 57600 8N1, no flow control, held
// exclusively while open.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "device_port.hpp"
#include "platform/disk_files.hpp"

namespace torvela {

namespace fs = std::filesystem;

std::string ports_folder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = (xdg && *xdg) ? std::string(xdg) : std::string(home ? home : ".") + "/.config";
    return base + "/torvela/ports";
}

namespace {

// The process and terminal a simulated writer wrote beside its link; a
// process number of 0 when there is no such file.
struct simulator_marker {
    long pid = 0;
    std::string terminal;
};

simulator_marker read_marker(const fs::path& link) {
    simulator_marker m;
    fs::path marker = link;
    marker += ".sim-pid";
    std::string text;
    if (read_small_file(marker, 256, text) != small_file::read) return m;
    const std::size_t nl = text.find('\n');
    m.pid = std::strtol(text.c_str(), nullptr, 10);
    if (nl != std::string::npos) m.terminal = text.substr(nl + 1, text.find('\n', nl + 1) - nl - 1);
    return m;
}

}  // namespace

port_choice resolve_port(int n) {
    const std::string name = "com" + std::to_string(n);
    const fs::path entry = fs::path(ports_folder()) / name;
    struct stat st {};
    if (::lstat(entry.c_str(), &st) != 0) {
        // Only "there is no such entry" lets COMn stand for the system's own
        // port; any other failure (a folder nobody may search, a link loop)
        // says nothing about what the operator linked as comN.
        if (errno == ENOENT) return {"/dev/ttyS" + std::to_string(n - 1), {}};
        return {{}, "cannot look at " + name + " in " + entry.parent_path().string() + ": " + std::strerror(errno)};
    }
    if (!S_ISLNK(st.st_mode)) return {entry.string(), {}};
    std::error_code ec;
    const fs::path to = fs::read_symlink(entry, ec);
    const fs::path target = to.is_absolute() ? to : entry.parent_path() / to;
    // A simulated writer killed outright leaves its link; the terminal's
    // number may be some other program's by now.
    const simulator_marker sim = read_marker(entry);
    if (sim.pid > 0 && sim.terminal == to.string() && ::kill(static_cast<pid_t>(sim.pid), 0) != 0 && errno == ESRCH)
        return {{}, "the simulated writer behind COM" + std::to_string(n) + " has stopped (process " +
                        std::to_string(sim.pid) + "); start it again, or remove " + entry.string()};
    struct stat dev {};
    if (::stat(entry.c_str(), &dev) != 0) {
        if (errno == ENOENT)
            return {{}, "the link " + name + " points to " + target.string() + ", which does not exist"};
        return {{}, "the link " + name + " points to " + target.string() + ", which cannot be looked at: " +
                        std::strerror(errno)};
    }
    const fs::path real = fs::canonical(entry, ec);
    return {ec ? target.string() : real.string(), {}};
}

namespace {

std::string reason(int err) { return std::strerror(err); }

// The process holding the serial tools' lock on the device, from the
// system's table of locks (readable by everyone): "process N (NAME)";
// empty when nobody holds it.
std::string lock_holder(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return {};
    char key[64];
    std::snprintf(key, sizeof key, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::string table;
    if (read_small_file("/proc/locks", 1 << 20, table) != small_file::read) return {};
    std::size_t at = 0;
    while (at < table.size()) {
        const std::size_t end = std::min(table.find('\n', at), table.size());
        const std::string line = table.substr(at, end - at);
        at = end + 1;
        // "1: FLOCK  ADVISORY  WRITE 1234 00:19:6 0 EOF"
        char kind[16] = {}, entry[64] = {};
        long pid = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %63s", kind, &pid, entry) != 3) continue;
        if (std::string(kind) != "FLOCK" || std::string(entry) != key || pid <= 0) continue;
        std::string name;
        read_small_file("/proc/" + std::to_string(pid) + "/comm", 256, name);
        while (!name.empty() && name.back() == '\n') name.pop_back();
        return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
    }
    return {};
}

// A terminal held exclusively refuses the open to everyone but root. Held
// by a program that ended without giving it back, it stays so: a simulated
// writer frees its terminal within a few hundredths of a second, a real
// port frees itself at its last close. With nobody holding the lock, tried
// again for a moment; then why, with the holder where the system tells.
int open_terminal(const std::string& device, std::string& why) {
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno != EBUSY) {
            why = reason(errno);
            return -1;
        }
        const std::string holder = lock_holder(device);
        if (!holder.empty()) {
            why = "the port is in use by another program, " + holder;
            return -1;
        }
        if (attempt == 10) {
            why = "the port is held exclusively by a program that takes no lock, or was left so by one that "
                  "ended without giving it back (unplug and plug in the adapter)";
            return -1;
        }
        ::usleep(20'000);
    }
}

// Raw 57600 8N1: no echo, no line editing, no character mapping, no flow
// control of either kind, reads that return at once.
bool set_line(int fd, std::string& why, std::vector<unsigned char>& found) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        why = errno == ENOTTY ? "not a serial device" : reason(errno);
        return false;
    }
    found.assign(reinterpret_cast<const unsigned char*>(&t), reinterpret_cast<const unsigned char*>(&t) + sizeof t);
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, B57600) != 0 || ::cfsetospeed(&t, B57600) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) {
        why = reason(errno);
        return false;
    }
    ::tcflush(fd, TCIOFLUSH);
    return true;
}

}  // namespace

bool device_present(const std::string& device) {
    std::error_code ec;
    return !device.empty() && std::filesystem::exists(path_from_utf8(device), ec);
}

open_right open_right_of(const std::string& device) {
    if (::access(device.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return {false, {}};
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {false, {}};
    const group* g = ::getgrgid(st.st_gid);
    return {false, g ? g->gr_name : std::to_string(st.st_gid)};
}

bool device_port::open_device() {
    error_.clear();
    advice_.clear();
    if (device_override.empty()) {
        const port_choice choice = resolve_port(port_);
        device_ = choice.device;
        if (!choice.error.empty()) {
            error_ = choice.error;
            if (error_.find("cannot look at") != std::string::npos || error_.find("cannot be looked at") != std::string::npos)
                advice_ = "give yourself the right to look into that folder, or have its owner do so, then try "
                          "again (no group for serial ports helps here)";
            return false;
        }
    } else {
        device_ = device_override;
    }
    std::error_code ec;
    if (fs::is_regular_file(device_, ec) || fs::is_directory(device_, ec)) {
        error_ = "not a serial device";
        return false;
    }
    const int fd = open_terminal(device_, error_);
    if (fd < 0) {
        // The device's own group gives the right to open it, where it has it.
        if (const open_right right = open_right_of(device_); !right.granted)
            advice_ = right.group.empty()
                          ? "only the owner of " + device_ + " may open it: ask the machine's administrator for the right"
                          : "add yourself to the group " + right.group + ", which may open " + device_ +
                                " (sudo usermod -aG " + right.group + " $USER), and log in again";
        return false;
    }
    // The multiplexer of pseudo-terminals makes a new terminal at each
    // open, with nobody on its other side.
    int terminal_number = 0;
    if (::ioctl(fd, TIOCGPTN, &terminal_number) == 0) {
        error_ = "it is the side of a pseudo-terminal that makes new terminals, not a port; name the terminal "
                 "itself (/dev/pts/N)";
        ::close(fd);
        return false;
    }
    // One program on the line at a time: a second open of the device fails,
    // through the lock that serial tools take (it holds for root too) and
    // the terminal's exclusive mode.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) error_ = reason(errno);
        else error_ = "the port is in use by another program" + [&] {
            const std::string holder = lock_holder(device_);
            return holder.empty() ? std::string() : ", " + holder;
        }();
        ::close(fd);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        error_ = reason(errno);
        ::close(fd);
        return false;
    }
    if (!set_line(fd, error_, found_settings_)) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

// The device is given back as it was found: not exclusive any more (an
// ordinary user's next open would fail otherwise while the other side stays
// open) and with its own line settings.
void device_port::close_device() {
    if (handle_ >= 0) {
        const int fd = static_cast<int>(handle_);
        if (found_settings_.size() == sizeof(termios)) {
            termios t{};
            std::memcpy(&t, found_settings_.data(), sizeof t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
    forget_device();
}

int device_port::bytes_waiting() {
    const int fd = static_cast<int>(handle_);
    // A terminal whose other side has gone reports a hang-up, and nothing
    // else tells: no byte arrives and no error is raised.
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 && errno != EINTR) {
        lose(reason(errno));
        return -1;
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        lose(p.revents & POLLHUP ? "the other end hung up" : "the device reported an error");
        return -1;
    }
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) {
        lose(reason(errno));
        return -1;
    }
    return waiting;
}

std::string device_port::Input() {
    std::string all;
    if (!open_) return all;
    char buf[1024];
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), buf, sizeof buf);
        if (n > 0) {
            all.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) lose(reason(errno));
        break;
    }
    return all;
}

bool device_port::Output(std::span<const std::uint8_t> bytes) {
    if (!open_) return false;
    return send_pending(bytes);
}

// A page is 260 bytes, far below what a terminal takes at once; should the
// driver's buffer be full, the rest waits (see pending_writes).
long device_port::write_now(std::span<const std::uint8_t> bytes, std::string& why) {
    for (;;) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        why = reason(errno);
        return -1;
    }
}

}  // namespace torvela
