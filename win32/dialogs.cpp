#include "dialogs.hpp"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>

#include "erase/block_form.hpp"
#include "window/driver.hpp"

namespace torvela_win32 {

namespace {

// The documents folder, then the user's profile.
std::vector<std::string> folders_to_start_in() {
    PWSTR path = nullptr;
    std::string documents;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path))) documents = utf8(path);
    CoTaskMemFree(path);
    wchar_t profile[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    return {documents, utf8(profile)};
}

}  // namespace

// ---- message boxes and dialogs ---------------------------------------------------

bool win32_box::yes_no(std::string_view prompt, std::string_view title) {
    // The box runs its own message loop: the timers' messages go on being
    // dispatched to the window meanwhile.
    return MessageBoxW(owner, wide(prompt).c_str(), wide(title).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void win32_box::inform(std::string_view text, std::string_view title) {
    // Shown once the handler that calls this has returned.
    pending_.emplace_back(wide(text), wide(title));
    PostMessageW(owner, inform_message, 0, 0);
}

void win32_box::show_pending() {
    while (!pending_.empty()) {
        const auto [text, title] = pending_.front();
        pending_.pop_front();
        MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
    }
}

win32_dialogs::win32_dialogs() : folder_(folders_to_start_in()) {}

std::string win32_dialogs::open_file(std::string_view filter) {
    // "NAME|PATTERNS|NAME|PATTERNS": the dialog wants them NUL-separated.
    std::wstring pairs = wide(filter);
    std::replace(pairs.begin(), pairs.end(), L'|', L'\0');
    pairs.push_back(L'\0');
    pairs.push_back(L'\0');
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = pairs.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    const std::wstring folder = wide(folder_.path());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = L"SELECT FILE";
    ofn.lpstrDefExt = L"dat";
    // A new name is allowed: a save into a file that is not there yet.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return {};
    file.resize(wcslen(file.c_str()));
    folder_.chose(utf8(file));
    return utf8(file);
}

namespace {

struct block_dialog_state {
    torvela::main_form* f;
    torvela::block_form* dlg;
    std::vector<HWND> boxes;
    bool done = false;
};

LRESULT CALLBACK block_dialog_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* s = reinterpret_cast<block_dialog_state*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    switch (msg) {
    case WM_COMMAND:
        if (s && LOWORD(wp) == IDOK) {
            for (std::size_t i = 0; i < s->boxes.size(); ++i)
                s->dlg->target_block[i].value = SendMessageW(s->boxes[i], BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
            torvela::OK_buttun_Click(*s->dlg, *s->f);
            s->done = true;
            return 0;
        }
        break;
    case WM_CLOSE:
        if (s) s->done = true;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

void win32_dialogs::show_block_form(torvela::main_form& f, torvela::block_form& dlg) {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = block_dialog_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = block_form_class;
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    block_dialog_state s{&f, &dlg, {}};
    // Drawn at the monitor's DPI, whatever the main window's scale: the
    // system draws the check boxes' marks at that DPI, and the dialog is
    // small enough for any screen.
    const double scale = dpi_scale(owner);
    const auto px = [scale](int v) { return static_cast<int>(v * scale + 0.5); };
    face_fonts fonts(window_texts());
    RECT r{0, 0, px(torvela::block_dialog_width), px(torvela::block_dialog_height)};
    AdjustWindowRectEx(&r, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME);
    HWND w = CreateWindowExW(WS_EX_DLGMODALFRAME, block_form_class, L"block_form", WS_CAPTION | WS_SYSMENU,
                             CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, owner, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
    auto child = [&](const torvela::control& c, const wchar_t* cls, DWORD style, int id) {
        const torvela::rect at = torvela::dialog_place(c);
        HWND h = CreateWindowExW(0, cls, wide(c.caption).c_str(), WS_CHILD | style | (c.visible ? WS_VISIBLE : 0),
                                 px(at.x), px(at.y), px(at.width), px(at.height), w,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        set_font(h, fonts.font_for(wide(c.caption), px(12)));
        return h;
    };
    for (std::size_t i = 0; i < dlg.target_block.size(); ++i) {
        torvela::control box = dlg.target_block[i];
        box.caption.clear();
        s.boxes.push_back(child(box, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, static_cast<int>(200 + i)));
        child(dlg.block[i], L"STATIC", SS_LEFT | SS_NOPREFIX, static_cast<int>(300 + i));
    }
    child(dlg.OK_buttun, L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK);
    // Modal: the main window is disabled while the dialog's loop runs, and
    // the timers' messages go on being dispatched.
    EnableWindow(owner, FALSE);
    ShowWindow(w, SW_SHOW);
    MSG msg;
    while (!s.done && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(w, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    EnableWindow(owner, TRUE);
    DestroyWindow(w);
    SetForegroundWindow(owner);
    if (!dlg.unloaded) torvela::Form_Unload(dlg);
}

std::string choose_trace_file(HWND owner) {
    std::wstring file(32768, L'\0');
    const std::wstring name = wide(torvela::trace_file_name);
    std::copy(name.begin(), name.end(), file.begin());
    const std::wstring folder = wide(torvela::first_folder(folders_to_start_in()));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"TEXT (*.txt)\0*.txt\0All files (*)\0*\0";
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = L"SAVE TRACE";
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn)) return {};
    file.resize(wcslen(file.c_str()));
    return utf8(file);
}

}  // namespace torvela_win32
