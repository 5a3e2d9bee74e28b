// The window's platform services behind the core's interfaces: the Yes/No
// box (QMessageBox), the file dialog (QFileDialog) and the block dialog.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "window/window_files.hpp"

namespace torvela_gui {

// The folders a file dialog may open first: the documents folder, then
// the home folder.
std::vector<std::string> folders_to_start_in();

class qt_message_box final : public torvela::message_box {
public:
    explicit qt_message_box(QWidget* parent) : parent_(parent) {}
    bool yes_no(std::string_view prompt, std::string_view title) override;
    void inform(std::string_view text, std::string_view title) override;

private:
    QWidget* parent_;
};

class qt_dialogs final : public torvela::dialogs {
public:
    explicit qt_dialogs(QWidget* parent);
    // An existing file or a new name typed in; it starts in the documents
    // folder, then in the folder last used during this run.
    std::string open_file(std::string_view filter) override;
    void show_block_form(torvela::main_form& f, torvela::block_form& dlg) override;

private:
    QWidget* parent_;
    torvela::dialog_folder folder_;
};

}  // namespace torvela_gui
