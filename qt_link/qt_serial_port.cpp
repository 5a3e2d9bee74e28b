#include "qt_serial_port.hpp"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#ifndef Q_OS_WIN
#include <poll.h>
#endif

namespace torvela_qt {

QString ports_folder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + "/.config";
    return base + "/torvela/ports";
}

QString port_device(int n) {
#ifdef Q_OS_WIN
    return QString("COM%1").arg(n);
#else
    const QFileInfo link(ports_folder() + QString("/com%1").arg(n));
    if (link.exists()) return link.canonicalFilePath();
    return QString("/dev/ttyS%1").arg(n - 1);
#endif
}

qt_serial_port::qt_serial_port() {
    QObject::connect(&port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError) return;
        if (port.isOpen()) lose(port.errorString());
    });
}

void qt_serial_port::lose(const QString& why) {
    record(trace_line::kind::note, QString("port lost: %1").arg(why).toUtf8());
    port.close();
}

bool qt_serial_port::hung_up() const {
#ifdef Q_OS_WIN
    return false;
#else
    // A terminal whose other side has gone reports a hang-up, and nothing
    // else ever tells: no byte arrives and no error is raised.
    pollfd p{static_cast<int>(port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

bool qt_serial_port::PortOpen(bool open) {
    if (!open) {
        if (port.isOpen()) port.close();
        return true;
    }
    if (port.isOpen()) return true;
    last_device = device_override.isEmpty() ? port_device(port_) : device_override;
    last_error.clear();
    port.setPortName(last_device);
    port.setBaudRate(QSerialPort::Baud57600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        last_error = port.errorString();
        const QString note = QString("COM%1 (%2) cannot be opened: %3").arg(port_).arg(last_device, last_error);
        record(trace_line::kind::note, note.toUtf8());
        std::fprintf(stderr, "torvela: %s\n", note.toLocal8Bit().constData());
        return false;
    }
    port.clear();
    return true;
}

int qt_serial_port::InBufferCount() {
    if (!port.isOpen()) return -1;
    if (hung_up()) {
        lose("the other end hung up");
        return -1;
    }
    return static_cast<int>(port.bytesAvailable());
}

std::string qt_serial_port::Input() {
    const QByteArray all = port.readAll();
    record(trace_line::kind::received, all);
    return std::string(all.constData(), static_cast<std::size_t>(all.size()));
}

bool qt_serial_port::Output(std::span<const std::uint8_t> bytes) {
    if (!port.isOpen()) return false;
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    record(trace_line::kind::sent, data);
    return port.write(data) == data.size();
}

void qt_serial_port::record(trace_line::kind what, const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    trace.push_back({tick, what, bytes});
    while (trace.size() > 2000) trace.pop_front();
    if (on_trace) on_trace(trace.back());
}

}  // namespace torvela_qt
