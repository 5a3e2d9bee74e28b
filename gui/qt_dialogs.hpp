// The platform services behind the core's interfaces: the serial port
// (QSerialPort), the Yes/No box (QMessageBox), the open dialog
// (QFileDialog) and the block dialog.
#pragma once

#include <QSerialPort>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>

#include "console/platform.hpp"

namespace torvela_gui {

// COMn: the link comN in $XDG_CONFIG_HOME/torvela/ports/ when it exists,
// else /dev/ttyS<n-1>; on Windows COMn itself.
QString port_device(int n);
QString ports_folder();

struct trace_line {
    std::uint64_t tick;
    bool sent;
    QByteArray bytes;
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

    QSerialPort port;
    // The last frames on the line, for the service view.
    std::deque<trace_line> trace;
    std::uint64_t tick = 0;
    std::function<void()> on_trace;

private:
    void record(bool sent, const QByteArray& bytes);
    int port_ = 1;
};

class qt_message_box final : public torvela::message_box {
public:
    explicit qt_message_box(QWidget* parent) : parent_(parent) {}
    bool yes_no(std::string_view prompt, std::string_view title) override;

private:
    QWidget* parent_;
};

class qt_dialogs final : public torvela::dialogs {
public:
    explicit qt_dialogs(QWidget* parent) : parent_(parent) {}
    std::string open_file(std::string_view filter) override;
    void show_block_form(torvela::main_form& f, torvela::block_form& dlg) override;

private:
    QWidget* parent_;
};

}  // namespace torvela_gui
