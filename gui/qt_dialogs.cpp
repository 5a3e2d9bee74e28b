#include "qt_dialogs.hpp"

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
#include "window/driver.hpp"

namespace torvela_gui {

bool qt_message_box::yes_no(std::string_view prompt, std::string_view title) {
    // The box runs its own event loop: the timers keep ticking meanwhile.
    const auto answer = QMessageBox::question(parent_, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                                              QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size())),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

void qt_message_box::inform(std::string_view text, std::string_view title) {
    // Window-modal and opened without a loop of its own: the job's tick that
    // calls this returns at once.
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                                QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
                                parent_);
    box->setObjectName("inform");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

std::vector<std::string> folders_to_start_in() {
    return {QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString(),
            QDir::homePath().toStdString()};
}

qt_dialogs::qt_dialogs(QWidget* parent) : parent_(parent), folder_(folders_to_start_in()) {}

std::string qt_dialogs::open_file(std::string_view filter) {
    // "NAME (*.dat)|*.dat|NAME|...": the names are what the dialog shows.
    const QStringList parts =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split('|');
    QStringList names;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
    QFileDialog d(parent_, "SELECT FILE", QString::fromStdString(folder_.path()));
    d.setObjectName("file_dialog");
    d.setNameFilters(names);
    d.setAcceptMode(QFileDialog::AcceptOpen);
    d.setFileMode(QFileDialog::AnyFile);  // a new name saves into a new file
    // The same word for a file that is there and a new name.
    d.setLabelText(QFileDialog::Accept, "Select");
    // A new name typed under the memory files' filter becomes a .dat file.
    d.setDefaultSuffix("dat");
    QObject::connect(&d, &QFileDialog::filterSelected, &d, [&d, names](const QString& chosen) {
        d.setDefaultSuffix(chosen == names.value(0) ? "dat" : "");
    });
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return {};
    const std::string path = d.selectedFiles().front().toStdString();
    folder_.chose(path);
    return path;
}

void qt_dialogs::show_block_form(torvela::main_form& f, torvela::block_form& dlg) {
    QDialog d(parent_);
    d.setObjectName("block_form");
    d.setWindowTitle("block_form");
    d.setFixedSize(torvela::block_dialog_width, torvela::block_dialog_height);
    auto place = [](QWidget* w, const torvela::control& c) {
        const torvela::rect r = torvela::dialog_place(c);
        w->setGeometry(r.x, r.y, r.width, r.height);
    };
    std::vector<QCheckBox*> boxes;
    for (std::size_t i = 0; i < dlg.target_block.size(); ++i) {
        const torvela::control& c = dlg.target_block[i];
        auto* box = new QCheckBox(&d);
        box->setObjectName(QString::fromStdString(c.name));
        place(box, c);
        box->setVisible(c.visible);
        boxes.push_back(box);
        const torvela::control& l = dlg.block[i];
        auto* label = new QLabel(QString::fromStdString(l.caption), &d);
        label->setObjectName(QString::fromStdString(l.name));
        place(label, l);
        label->setVisible(l.visible);
    }
    auto* ok = new QPushButton(QString::fromStdString(dlg.OK_buttun.caption), &d);
    ok->setObjectName("OK_buttun");
    place(ok, dlg.OK_buttun);
    QObject::connect(ok, &QPushButton::clicked, &d, [&] {
        for (std::size_t i = 0; i < dlg.target_block.size(); ++i) dlg.target_block[i].value = boxes[i]->isChecked() ? 1 : 0;
        torvela::OK_buttun_Click(dlg, f);
        d.accept();
    });
    d.exec();
    if (!dlg.unloaded) torvela::Form_Unload(dlg);
}

}  // namespace torvela_gui
