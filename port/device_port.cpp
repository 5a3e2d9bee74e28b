// What the serial port does the same on every system; the system's own
// part (open, close, poll, read, write) is in device_port_posix.cpp and
// device_port_win32.cpp.
#include "device_port.hpp"

namespace torvela {

device_port::~device_port() { close_device(); }

bool device_port::PortOpen(bool open) {
    if (!open) {
        close_device();
        return true;
    }
    if (open_) return true;
    open_ = open_device();
    return open_;
}

void device_port::lose(std::string why) {
    error_ = std::move(why);
    close_device();
}

}  // namespace torvela
