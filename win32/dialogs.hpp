// The Windows window's boxes and dialogs: the Yes/No box, the file dialog
// (starting in the documents folder, then where the operator last chose),
// the block dialog and the save of the trace.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "console/main_form.hpp"
#include "text.hpp"
#include "window/window_files.hpp"

namespace torvela_win32 {

inline constexpr UINT inform_message = WM_APP + 2;  // a message box waits to be shown

class win32_box final : public torvela::message_box {
public:
    bool yes_no(std::string_view prompt, std::string_view title) override;
    void inform(std::string_view text, std::string_view title) override;
    // The boxes `inform` left for the owner's message loop.
    void show_pending();
    HWND owner = nullptr;

private:
    std::deque<std::pair<std::wstring, std::wstring>> pending_;
};

class win32_dialogs final : public torvela::dialogs {
public:
    win32_dialogs();
    std::string open_file(std::string_view filter) override;
    void show_block_form(torvela::main_form& f, torvela::block_form& dlg) override;
    HWND owner = nullptr;

private:
    torvela::dialog_folder folder_;
};

// The file the trace is saved to, chosen by the operator; empty when he
// cancelled.
std::string choose_trace_file(HWND owner);

}  // namespace torvela_win32
