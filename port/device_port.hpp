// The serial port of the real line: a terminal device opened raw at
// 57600 8N1 with no flow control (POSIX termios), or \\.\COMn (Win32).
// One file per operating system behind the core's serial_port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pending_writes.hpp"
#include "platform/platform.hpp"

namespace torvela {

// What "COMn" stands for on this machine. On POSIX: the entry comN in the
// ports folder when there is one (a link to /dev/ttyUSB0, say), else, only
// when the folder could be looked into and holds no comN, /dev/ttyS<n-1>.
// A comN that cannot be looked at, a link whose target is gone, a link of a
// simulated writer that has stopped: each is an error, never a reason to
// open some other device. On Windows: \\.\COMn.
struct port_choice {
    std::string device;  // what to open
    std::string error;   // why nothing may be opened; empty when `device` holds
};
port_choice resolve_port(int n);

// Whether this user may open `device` for reading and writing; when not,
// the group that may (empty when only its owner may). Where the system does
// not tell, it is granted: the open itself then says why not.
struct open_right {
    bool granted = true;
    std::string group;
};
open_right open_right_of(const std::string& device);
// Whether the device is there: a file of the system's (POSIX), a DOS device
// the system has (Windows: \\.\COMn).
bool device_present(const std::string& device);
// $XDG_CONFIG_HOME/torvela/ports, else ~/.config/torvela/ports (POSIX).
std::string ports_folder();

// COM1 to COM16 as this machine resolves them: the device, and "present",
// "missing" or why none may be opened.
struct port_state {
    int com;
    std::string device, state;
};
std::vector<port_state> com_ports();
// The serial adapters plugged in (POSIX: /dev/serial/by-id, ttyUSB, ttyACM)
// and the COMn that stand for each ("COM2, COM5"; empty when none).
struct serial_device {
    std::string path, coms;
};
std::vector<serial_device> serial_devices_present(const std::vector<port_state>& ports);
// The ports of those two listings that are there, for a message: "the
// ports present here: COM2 (/dev/ttyUSB0), ...; choose the one the writer
// is on", or that there are none.
std::string ports_present();

class device_port final : public serial_port {
public:
    device_port() = default;
    device_port(const device_port&) = delete;
    device_port& operator=(const device_port&) = delete;
    ~device_port() override;

    void CommPort(int n) override { port_ = n; }
    // Always 57600 8N1, raw, no flow control: set on opening.
    void Settings(std::string_view) override {}
    void InputLen(int) override {}
    void InputMode(int) override {}
    bool PortOpen() const override { return open_; }
    bool PortOpen(bool open) override;
    int InBufferCount() override;
    std::string Input() override;
    bool Output(std::span<const std::uint8_t> bytes) override;
    std::string last_error() const override { return error_; }
    std::string device() const override { return device_; }
    std::string open_advice() const override { return advice_; }
    std::string named_device() const override { return device_override; }

    // A device to open instead of what COMn stands for (command line).
    std::string device_override;

private:
    bool open_device();
    void close_device();
    // The line is gone: a device unplugged, the other end hung up, an error
    // of the platform. The port reads closed from now on.
    void lose(std::string why);

    int port_ = 1;
    bool open_ = false;
    std::intptr_t handle_ = -1;
    // The line settings the device had when it was opened (the system's own
    // structure, as bytes), given back when it is closed.
    std::vector<unsigned char> found_settings_;
    std::string device_, error_, advice_;
    // Bytes the device did not take yet: they go on the following ticks,
    // never holding the caller up.
    pending_writes pending_{steady_ms};
    // `bytes` after those waiting, as much as the device takes now; false
    // when the line is lost.
    bool send_pending(std::span<const std::uint8_t> bytes);
    // What the device takes of `bytes` now, without waiting: the count, or
    // -1 with the system's reason. This system's own part of the sending.
    long write_now(std::span<const std::uint8_t> bytes, std::string& why);
    // The bytes received and not yet read, or -1 once the line is lost:
    // this system's own part of InBufferCount.
    int bytes_waiting();
    // The end of a close: nothing held, nothing waiting.
    void forget_device();
};

}  // namespace torvela
