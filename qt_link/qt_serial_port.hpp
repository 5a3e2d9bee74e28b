// The serial port behind the core's interface, for both front ends:
// QSerialPort at 57600 8N1, polled by the engine, with a trace of the
// frames on the line.
#pragma once

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "console/platform.hpp"

namespace torvela_qt {

// COMn: the link comN in $XDG_CONFIG_HOME/torvela/ports/ when it exists,
// else /dev/ttyS<n-1>; on Windows COMn itself.
QString port_device(int n);
QString ports_folder();

struct trace_line {
    std::uint64_t tick;
    enum class kind { sent, received, note } what;
    QByteArray bytes;  // the frame, or the text of a note
};

class qt_serial_port final : public QObject, public torvela::serial_port {
    Q_OBJECT
public:
    qt_serial_port();
    void CommPort(int n) override { port_ = n; }
    void Settings(std::string_view) override {}  // always 57600 8N1, set on opening
    void InputLen(int) override {}
    void InputMode(int) override {}
    bool PortOpen() const override { return port.isOpen(); }
    bool PortOpen(bool open) override;
    int InBufferCount() override;
    std::string Input() override;
    bool Output(std::span<const std::uint8_t> bytes) override;

    // A device path to open instead of what COMn stands for (command line).
    QString device_override;
    // The device the last open tried, and why it failed (empty when it opened).
    QString last_device, last_error;

    QSerialPort port;
    // The last frames on the line and notes about the port, for the trace.
    std::deque<trace_line> trace;
    std::uint64_t tick = 0;
    std::function<void(const trace_line&)> on_trace;

private:
    void record(trace_line::kind what, const QByteArray& bytes);
    // The line is gone: a device unplugged, the other end of a terminal
    // closed, any error of the port but a time-out.
    void lose(const QString& why);
    bool hung_up() const;
    int port_ = 1;
};

}  // namespace torvela_qt
