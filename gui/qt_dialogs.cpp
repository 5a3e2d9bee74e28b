#include "qt_platform.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <vector>

#include "erase/block_form.hpp"

namespace torvela_gui {

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
        // An adapter pulled out, a terminal gone: the port is lost.
        if (e == QSerialPort::ResourceError || e == QSerialPort::PermissionError) {
            if (port.isOpen()) port.close();
        }
    });
}

bool qt_serial_port::PortOpen(bool open) {
    if (!open) {
        if (port.isOpen()) port.close();
        return true;
    }
    if (port.isOpen()) return true;
    port.setPortName(port_device(port_));
    port.setBaudRate(QSerialPort::Baud57600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) return false;
    port.clear();
    return true;
}

int qt_serial_port::InBufferCount() {
    if (!port.isOpen()) return -1;
    return static_cast<int>(port.bytesAvailable());
}

std::string qt_serial_port::Input() {
    const QByteArray all = port.readAll();
    record(false, all);
    return std::string(all.constData(), static_cast<std::size_t>(all.size()));
}

bool qt_serial_port::Output(std::span<const std::uint8_t> bytes) {
    if (!port.isOpen()) return false;
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    record(true, data);
    return port.write(data) == data.size();
}

void qt_serial_port::record(bool sent, const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    trace.push_back({tick, sent, bytes});
    while (trace.size() > 200) trace.pop_front();
    if (on_trace) on_trace();
}

bool qt_message_box::yes_no(std::string_view prompt, std::string_view title) {
    // The box runs its own event loop: the timers keep ticking meanwhile.
    const auto answer = QMessageBox::question(parent_, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                                              QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size())),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

std::string qt_dialogs::open_file(std::string_view filter) {
    // "NAME (*.dat)|*.dat": the part before the bar is what the dialog shows.
    QString f = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()));
    f = f.section('|', 0, 0);
    const QString path = QFileDialog::getOpenFileName(parent_, QString(), QString(), f);
    return path.toStdString();
}

void qt_dialogs::show_block_form(torvela::main_form& f, torvela::block_form& dlg) {
    QDialog d(parent_);
    d.setObjectName("block_form");
    d.setWindowTitle("block_form");
    d.setFixedSize(4500 / 15, 2550 / 15);
    std::vector<QCheckBox*> boxes;
    for (std::size_t i = 0; i < 9; ++i) {
        const torvela::control& c = dlg.target_block[i];
        auto* box = new QCheckBox(&d);
        box->setObjectName(QString::fromStdString(c.name));
        box->setGeometry(c.left / 15, c.top / 15, c.width / 15, c.height / 15);
        box->setVisible(c.visible);
        boxes.push_back(box);
        const torvela::control& l = dlg.block[i];
        auto* label = new QLabel(QString::fromStdString(l.caption), &d);
        label->setObjectName(QString::fromStdString(l.name));
        label->setGeometry(l.left / 15, l.top / 15, l.width / 15, l.height / 15);
        label->setVisible(l.visible);
    }
    auto* ok = new QPushButton(QString::fromStdString(dlg.OK_buttun.caption), &d);
    ok->setObjectName("OK_buttun");
    ok->setGeometry(dlg.OK_buttun.left / 15, dlg.OK_buttun.top / 15, dlg.OK_buttun.width / 15,
                    dlg.OK_buttun.height / 15);
    QObject::connect(ok, &QPushButton::clicked, &d, [&] {
        for (std::size_t i = 0; i < 9; ++i) dlg.target_block[i].value = boxes[i]->isChecked() ? 1 : 0;
        torvela::OK_buttun_Click(dlg, f);
        d.accept();
    });
    d.exec();
    if (!dlg.unloaded) torvela::Form_Unload(dlg);
}

}  // namespace torvela_gui
