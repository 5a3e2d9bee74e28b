// Win32: \\.\COMn (so COM10 to COM16 open too), 57600 8N1 with every kind of
// flow control off, reads that return at once.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <string>

#include "device_port.hpp"
#include "platform/disk_files.hpp"

namespace torvela {

std::string ports_folder() { return {}; }

port_choice resolve_port(int n) { return {"\\\\.\\COM" + std::to_string(n), {}}; }

open_right open_right_of(const std::string&) { return {}; }

// A COM port is there when the system has a DOS device of its name (what
// the serial driver, or Wine's mapping, makes for it); the file system
// does not tell of devices.
bool device_present(const std::string& device) {
    std::wstring name(device.begin(), device.end());
    if (name.rfind(L"\\\\.\\", 0) == 0) name = name.substr(4);
    wchar_t target[512];
    return !name.empty() && QueryDosDeviceW(name.c_str(), target, 512) != 0;
}

namespace {

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool set_line(HANDLE h, std::string& why, std::vector<unsigned char>& found) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        why = GetLastError() == ERROR_INVALID_FUNCTION ? std::string("not a serial device") : system_reason(GetLastError());
        return false;
    }
    COMMTIMEOUTS found_timeouts{};
    GetCommTimeouts(h, &found_timeouts);
    // What the device had, given back when it is closed: its line, then its
    // timeouts.
    found.assign(reinterpret_cast<const unsigned char*>(&dcb), reinterpret_cast<const unsigned char*>(&dcb) + sizeof dcb);
    found.insert(found.end(), reinterpret_cast<const unsigned char*>(&found_timeouts),
                 reinterpret_cast<const unsigned char*>(&found_timeouts) + sizeof found_timeouts);
    dcb.BaudRate = CBR_57600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    // Reads return what has arrived, at once; a write returns within a
    // millisecond with what the driver took (the rest goes on later ticks).
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 1;
    if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &t)) {
        why = system_reason(GetLastError());
        return false;
    }
    SetupComm(h, 4096, 4096);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return true;
}

}  // namespace

bool device_port::open_device() {
    error_.clear();
    device_ = device_override.empty() ? resolve_port(port_).device : device_override;
    // No sharing: a port another program holds fails to open.
    const HANDLE h = CreateFileW(path_from_utf8(device_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Windows refuses a COM port another program has open as access denied.
        const DWORD err = GetLastError();
        error_ = err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION ? "the port is in use by another program"
                                                                               : system_reason(err);
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_CHAR || !set_line(h, error_, found_settings_)) {
        if (error_.empty()) error_ = "not a serial device";
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

// The port is given back with the settings it had when it was opened.
void device_port::close_device() {
    if (handle_ != -1) {
        if (found_settings_.size() == sizeof(DCB) + sizeof(COMMTIMEOUTS)) {
            DCB dcb{};
            COMMTIMEOUTS t{};
            std::memcpy(&dcb, found_settings_.data(), sizeof dcb);
            std::memcpy(&t, found_settings_.data() + sizeof dcb, sizeof t);
            SetCommState(as_handle(handle_), &dcb);
            SetCommTimeouts(as_handle(handle_), &t);
        }
        CloseHandle(as_handle(handle_));
    }
    forget_device();
}

int device_port::bytes_waiting() {
    DWORD errors = 0;
    COMSTAT stat{};
    // A vanished device (an unplugged adapter) fails here.
    if (!ClearCommError(as_handle(handle_), &errors, &stat)) {
        lose(system_reason(GetLastError()));
        return -1;
    }
    return static_cast<int>(stat.cbInQue);
}

std::string device_port::Input() {
    std::string all;
    if (!open_) return all;
    char buf[1024];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(as_handle(handle_), buf, sizeof buf, &n, nullptr)) {
            lose(system_reason(GetLastError()));
            break;
        }
        if (n == 0) break;
        all.append(buf, n);
    }
    return all;
}

bool device_port::Output(std::span<const std::uint8_t> bytes) {
    if (!open_) return false;
    return send_pending(bytes);
}

// A page is 260 bytes, far below the driver's queue; should it be full, the
// rest waits (see pending_writes). The port's write time-out is a
// millisecond: a write returns with what the driver took.
long device_port::write_now(std::span<const std::uint8_t> bytes, std::string& why) {
    DWORD n = 0;
    if (WriteFile(as_handle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr))
        return static_cast<long>(n);
    const DWORD err = GetLastError();
    if (err == ERROR_SEM_TIMEOUT || err == ERROR_TIMEOUT) return static_cast<long>(n);
    why = system_reason(err);
    return -1;
}

}  // namespace torvela
