// What the serial port does the same on every system; the system's own
// part (open, close, poll, read, write) is in device_port_posix.cpp and
// device_port_win32.cpp.
#include "device_port.hpp"

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/disk_files.hpp"

namespace torvela {

device_port::~device_port() { close_device(); }

bool device_port::PortOpen(bool open) {
    if (!open) {
        close_device();
        return true;
    }
    if (open_) return true;
    open_ = open_device();
    // A device that is not there: the operator is shown the ports that are,
    // as `ports` lists them. Nothing is opened to find them.
    if (!open_ && advice_.empty() && !device_present(device_)) advice_ = ports_present();
    return open_;
}

std::string ports_present() {
    const std::vector<port_state> ports = com_ports();
    std::string present;
    for (const port_state& p : ports)
        if (p.state.rfind("present", 0) == 0)
            present += (present.empty() ? "" : ", ") + ("COM" + std::to_string(p.com)) + " (" + p.device + ")";
    for (const serial_device& d : serial_devices_present(ports))
        if (d.coms.empty()) present += (present.empty() ? "" : ", ") + d.path + " (no COMn stands for it)";
    if (present.empty())
        return "no serial port is present on this machine: connect the writer's port or adapter, then try again";
    return "the ports present here: " + present + "; choose the one the writer is on";
}

void device_port::lose(std::string why) {
    error_ = std::move(why);
    close_device();
}

namespace {

// "present", or present and closed to this user, with who may open it.
std::string present_for_me(const std::string& device) {
    const open_right right = open_right_of(device);
    if (right.granted) return "present";
    const std::string who = right.group.empty() ? std::string("only its owner") : "the group " + right.group;
    return "present, but you may not open it (" + who + " may)";
}

}  // namespace

std::vector<port_state> com_ports() {
    std::vector<port_state> ports;
    for (int n = 1; n <= 16; ++n) {
        const port_choice c = resolve_port(n);
        const bool there = device_present(c.device);
        ports.push_back({n, c.device, !c.error.empty() ? c.error : there ? present_for_me(c.device) : "missing"});
    }
    return ports;
}

std::vector<serial_device> serial_devices_present(const std::vector<port_state>& ports) {
    namespace fs = std::filesystem;
    std::vector<serial_device> devices;
#ifndef _WIN32
    std::error_code ec;
    for (fs::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec))
        devices.push_back({it->path().string(), {}});
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) devices.push_back({it->path().string(), {}});
    }
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    // A device and a COMn are the same when their links end at one file.
    std::vector<std::pair<fs::path, int>> present;
    for (const port_state& p : ports) {
        fs::path real = fs::canonical(path_from_utf8(p.device), ec);
        if (!ec && p.state.rfind("present", 0) == 0) present.emplace_back(std::move(real), p.com);
    }
    for (serial_device& d : devices) {
        const fs::path real = fs::canonical(d.path, ec);
        if (ec) continue;
        for (const auto& [com_real, com] : present)
            if (com_real == real) d.coms += (d.coms.empty() ? "COM" : ", COM") + std::to_string(com);
    }
#else
    (void)ports;
#endif
    return devices;
}

bool device_port::send_pending(std::span<const std::uint8_t> bytes) {
    std::string why;
    if (pending_.send(bytes, [this](std::span<const std::uint8_t> b, std::string& w) { return write_now(b, w); }, why))
        return true;
    lose(why);
    return false;
}

void device_port::forget_device() {
    found_settings_.clear();
    pending_.clear();
    handle_ = -1;
    open_ = false;
}

int device_port::InBufferCount() {
    if (!open_) return -1;
    // What the device did not take before goes first.
    if (pending_.waiting() > 0 && !send_pending({})) return -1;
    return bytes_waiting();
}

}  // namespace torvela
