// The TORVELA window on Windows: native controls drawn from the core's
// control table. Every click, text change and timer tick goes to the core;
// the controls are refreshed from the model afterwards.
#include "window.hpp"

#include <commdlg.h>
#include <mmsystem.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>

#include "erase/block_form.hpp"
#include "rom_data/memory_files.hpp"

namespace torvela_win32 {

namespace {

constexpr UINT tick_message = WM_APP + 1;    // wParam: 0, 1, 2 for Timer1..Timer3
constexpr UINT inform_message = WM_APP + 2;  // a message box waits to be shown

std::wstring window_text(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The documents folder when there is one, else the user's profile.
std::wstring first_folder() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path)) &&
        GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        folder = path;
    CoTaskMemFree(path);
    if (folder.empty()) {
        wchar_t profile[MAX_PATH];
        if (GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH) > 0) folder = profile;
    }
    return folder;
}

// ---- pictures of the busy indicator --------------------------------------------

void draw_picture(HDC dc, RECT r, int n) {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
    if (n >= 1 && n <= 4) {
        HBRUSH light = CreateSolidBrush(RGB(230, 230, 230)), blue = CreateSolidBrush(RGB(20, 90, 200));
        HGDIOBJ old = SelectObject(dc, light);
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
        SelectObject(dc, blue);
        // One quarter filled, turning clockwise from the top.
        const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2, q = n - 1;
        const POINT ends[5] = {{cx, r.top}, {r.right, cy}, {cx, r.bottom}, {r.left, cy}, {cx, r.top}};
        Pie(dc, r.left, r.top, r.right, r.bottom, ends[q + 1].x, ends[q + 1].y, ends[q].x, ends[q].y);
        SelectObject(dc, old);
        DeleteObject(light);
        DeleteObject(blue);
    } else if ((n >= 5 && n <= 9) || (n >= 12 && n <= 16)) {
        const bool down = n <= 9;
        const int count = down ? n - 5 : n - 12;
        HPEN pen = CreatePen(PS_SOLID, 2, RGB(200, 60, 20));
        SelectObject(dc, pen);
        const int h = (r.bottom - r.top) / 5, cx = (r.left + r.right) / 2;
        for (int i = 0; i < count; ++i) {
            const int y = down ? r.top + 2 + i * h : r.bottom - 2 - i * h;
            const int tip = down ? y + h - 2 : y - h + 2;
            MoveToEx(dc, r.left + 2, y, nullptr);
            LineTo(dc, cx, tip);
            LineTo(dc, r.right - 2, y);
        }
        SelectObject(dc, old_pen);
        DeleteObject(pen);
    } else if (n == 10 || n == 11) {
        HBRUSH body = CreateSolidBrush(n == 10 ? RGB(210, 215, 225) : RGB(90, 90, 95));
        HGDIOBJ old = SelectObject(dc, body);
        Rectangle(dc, r.left + 1, r.top + 1, r.right - 1, n == 10 ? r.bottom - (r.bottom - r.top) / 4 : r.bottom - 1);
        SelectObject(dc, old);
        DeleteObject(body);
    }
    SelectObject(dc, old_pen);
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
    pending.emplace_back(wide(text), wide(title));
    PostMessageW(owner, inform_message, 0, 0);
}

win32_dialogs::win32_dialogs() : folder_(first_folder()) {}

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
    ofn.lpstrInitialDir = folder_.empty() ? nullptr : folder_.c_str();
    ofn.lpstrTitle = L"SELECT FILE";
    ofn.lpstrDefExt = L"dat";
    // A new name is allowed: a save into a file that is not there yet.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return {};
    file.resize(wcslen(file.c_str()));
    folder_ = file.substr(0, file.find_last_of(L"\\/"));
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
        wc.lpszClassName = L"torvela_block_form";
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    block_dialog_state s{&f, &dlg, {}};
    RECT r{0, 0, torvela::block_dialog_width, torvela::block_dialog_height};
    AdjustWindowRectEx(&r, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME);
    HWND w = CreateWindowExW(WS_EX_DLGMODALFRAME, L"torvela_block_form", L"block_form", WS_CAPTION | WS_SYSMENU,
                             CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, owner, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
    auto child = [&](const torvela::control& c, const wchar_t* cls, DWORD style, int id) {
        const torvela::rect at = torvela::dialog_place(c);
        HWND h = CreateWindowExW(0, cls, wide(c.caption).c_str(), WS_CHILD | style | (c.visible ? WS_VISIBLE : 0),
                                 at.x, at.y, at.width, at.height, w,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        return h;
    };
    for (std::size_t i = 0; i < 9; ++i) {
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

// ---- the main window ---------------------------------------------------------------

main_window* main_window::self_ = nullptr;

main_window::main_window() { self_ = this; }

main_window::~main_window() {
    stop_timers();
    unload();
    self_ = nullptr;
}

bool main_window::create(HINSTANCE instance) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = window_class;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (!RegisterClassW(&wc)) return false;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    hwnd_ = CreateWindowExW(0, window_class, L"TORVELA", style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr,
                            nullptr, instance, nullptr);
    if (!hwnd_) return false;
    box_.owner = hwnd_;
    dialogs_.owner = hwnd_;
    form_ = std::make_unique<torvela::main_form>(serial_, box_, dialogs_, files_);
    clock_ = std::make_unique<torvela::timer_driver>(*form_, serial_.tick, torvela::timer_driver::offered::by_one_timer);
    build();
    torvela::Form_Load(*form_);
    clock_start_ = GetTickCount64();
    set_service_view(false);
    ShowWindow(hwnd_, SW_SHOW);
    start_timers();
    return true;
}

void main_window::build() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    int id = first_control_id;
    for (torvela::control* c : form_->controls) {
        const int this_id = id++;
        const wchar_t* cls = L"STATIC";
        DWORD style = WS_CHILD;
        switch (c->kind) {
        case torvela::control_kind::label: style |= SS_LEFT | SS_NOPREFIX; break;
        case torvela::control_kind::button: cls = L"BUTTON"; style |= BS_PUSHBUTTON | WS_TABSTOP; break;
        case torvela::control_kind::combo: cls = L"COMBOBOX"; style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP; break;
        case torvela::control_kind::check: cls = L"BUTTON"; style |= BS_AUTOCHECKBOX | WS_TABSTOP; break;
        case torvela::control_kind::option: cls = L"BUTTON"; style |= BS_AUTORADIOBUTTON | WS_TABSTOP; break;
        case torvela::control_kind::text: cls = L"EDIT"; style |= ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP; break;
        case torvela::control_kind::image: style |= SS_OWNERDRAW; break;
        case torvela::control_kind::timer: continue;
        }
        HWND w = CreateWindowExW(0, cls, L"", style, 0, 0, 1, 1, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(this_id)), instance, nullptr);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        bindings_.push_back({c, w, this_id});
    }
    trace_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                             // Long lines scroll sideways: wrapping a page's hex
                             // on every append would cost the engine its ticks.
                             WS_CHILD | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                                 WS_HSCROLL,
                             0, 0, 1, 1, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(trace_id)), instance, nullptr);
    progress_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 1, 1, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(progress_id)), instance, nullptr);
    save_trace_ = CreateWindowExW(0, L"BUTTON", L"SAVE TRACE", WS_CHILD | BS_PUSHBUTTON, 0, 0, 1, 1, hwnd_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(save_trace_id)), instance, nullptr);
    for (HWND w : {trace_, progress_, save_trace_}) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

// The monitor's pixels per 96 (the design's), read where the system says.
static double dpi_scale(HWND w) {
    using get_dpi = UINT(WINAPI*)(HWND);
    static const auto for_window =
        reinterpret_cast<get_dpi>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = for_window ? for_window(w) : 96;
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

void main_window::set_service_view(bool on) {
    service_view_ = on;
    const int width = torvela::client_width + (on ? torvela::trace_width : 0);
    const int height = on ? torvela::service_height : torvela::client_height;
    // The design at the monitor's DPI; where that is taller than the work
    // area (the service view on a 1366x768 laptop), scaled down to fit it.
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &mi);
    const int room_w = mi.rcWork.right - mi.rcWork.left - (frame.right - frame.left);
    const int room_h = mi.rcWork.bottom - mi.rcWork.top - (frame.bottom - frame.top);
    const double scale = std::min({dpi_scale(hwnd_), static_cast<double>(room_h) / height,
                                   static_cast<double>(room_w) / width});
    if (scale != scale_ || !font_) {
        scale_ = scale;
        HFONT old = font_;
        font_ = japanese_ui_font(-px(12));
        dialogs_.font = font_;
        for (const binding& b : bindings_) SendMessageW(b.w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
        for (HWND w : {trace_, progress_, save_trace_}) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
        if (old) DeleteObject(old);
    }
    RECT r{0, 0, px(width), px(height)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    // Moved up where the grown window would reach below the work area.
    RECT now{};
    GetWindowRect(hwnd_, &now);
    const int top = std::max<int>(mi.rcWork.top, std::min<int>(now.top, mi.rcWork.bottom - (r.bottom - r.top)));
    const int left = std::max<int>(mi.rcWork.left, std::min<int>(now.left, mi.rcWork.right - (r.right - r.left)));
    SetWindowPos(hwnd_, nullptr, left, top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
    MoveWindow(trace_, px(torvela::client_width + 8), px(8), px(torvela::trace_width - 16),
               px(torvela::service_height - 16), TRUE);
    MoveWindow(progress_, px(8), px(torvela::service_row_top), px(360), px(torvela::service_button_height), TRUE);
    MoveWindow(save_trace_, px(torvela::save_trace_left), px(torvela::service_row_top), px(torvela::service_button_width),
               px(torvela::service_button_height), TRUE);
    for (HWND w : {trace_, progress_, save_trace_}) ShowWindow(w, on ? SW_SHOW : SW_HIDE);
    trace_feed_.restart();
    for (binding& b : bindings_) b.shown = -1;
    refresh();
}

void main_window::fire(torvela::control& c, torvela::control_event e) {
    torvela::fire(*form_, c, e);
    clock_->after_event(static_cast<std::int64_t>(timeGetTime()));
    refresh();
}

void main_window::sync(binding& b) {
    const torvela::control& c = *b.c;
    const torvela::rect r = torvela::place(c, service_view_);
    int height = r.height;
    if (c.kind == torvela::control_kind::combo) height *= 8;  // room for the list
    if (b.shown == -1 || r.x != b.at.x || r.y != b.at.y) {
        MoveWindow(b.w, px(r.x), px(r.y), px(r.width), px(height), TRUE);
        b.at = r;
    }
    const int shown = torvela::shown(c, service_view_) ? 1 : 0;
    if (shown != b.shown) {
        ShowWindow(b.w, shown ? SW_SHOW : SW_HIDE);
        b.shown = shown;
    }
    if (c.enabled != (b.enabled == 1)) {
        EnableWindow(b.w, c.enabled);
        b.enabled = c.enabled ? 1 : 0;
    }
    switch (c.kind) {
    case torvela::control_kind::combo: {
        if (b.items != c.items.size()) {
            SendMessageW(b.w, CB_RESETCONTENT, 0, 0);
            for (const std::string& item : c.items)
                SendMessageW(b.w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
            b.items = c.items.size();
            b.caption = "\x01";  // set the text again
        }
        // Only a text that differs from what the box shows is set: setting it
        // while the operator types would move the cursor.
        if (b.caption != c.caption && utf8(window_text(b.w)) != c.caption) SetWindowTextW(b.w, wide(c.caption).c_str());
        break;
    }
    case torvela::control_kind::check:
    case torvela::control_kind::option:
        if (b.value != c.value) SendMessageW(b.w, BM_SETCHECK, c.value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
        if (b.caption != c.caption) SetWindowTextW(b.w, wide(c.caption).c_str());
        break;
    case torvela::control_kind::text:
        if (b.caption != c.caption && utf8(window_text(b.w)) != c.caption) SetWindowTextW(b.w, wide(c.caption).c_str());
        break;
    case torvela::control_kind::image:
        if (shown) InvalidateRect(b.w, nullptr, FALSE);
        break;
    default:
        if (b.caption != c.caption) SetWindowTextW(b.w, wide(c.caption).c_str());
        break;
    }
    b.caption = c.caption;
    b.value = c.value;
}

void main_window::refresh() {
    syncing_ = true;
    for (binding& b : bindings_) sync(b);
    syncing_ = false;
    progress_line_.update(*form_, static_cast<std::int64_t>(GetTickCount64() - clock_start_));
    const std::wstring title = wide(torvela::window_title(*form_, progress_line_));
    if (title != title_) {
        title_ = title;
        SetWindowTextW(hwnd_, title.c_str());
    }
    if (service_view_) {
        const std::wstring text = wide(progress_line_.text());
        if (text != progress_text_) {
            progress_text_ = text;
            SetWindowTextW(progress_, text.c_str());
        }
        update_trace();
    }
}

void main_window::update_trace() {
    // Only the new lines, a few times a second: the view costs the job
    // nothing however fast the frames go.
    const torvela::trace_feed::update u =
        trace_feed_.take(serial_, static_cast<std::int64_t>(GetTickCount64() - clock_start_));
    if (u.text.empty()) return;
    const std::wstring text = wide(u.text);
    if (u.replace) {
        SetWindowTextW(trace_, text.c_str());
    } else {
        const auto end = static_cast<WPARAM>(GetWindowTextLengthW(trace_));
        SendMessageW(trace_, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(trace_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // The newest line in view.
    SendMessageW(trace_, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SendMessageW(trace_, EM_SCROLLCARET, 0, 0);
}

void main_window::save_trace() {
    std::wstring file(32768, L'\0');
    const std::wstring name = L"torvela-trace.txt";
    std::copy(name.begin(), name.end(), file.begin());
    const std::wstring folder = first_folder();
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = L"TEXT (*.txt)\0*.txt\0All files (*)\0*\0";
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = L"SAVE TRACE";
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn)) return;
    file.resize(wcslen(file.c_str()));
    // A trace that did not reach its file says so.
    if (!write_trace(file))
        MessageBoxW(hwnd_,
                    (file + L" could not be written (a full disk, or a folder you may not write to); the trace is "
                            L"still here: choose another file.").c_str(),
                    L"SAVE TRACE", MB_OK | MB_ICONWARNING);
}

bool main_window::write_trace(const std::wstring& path) const {
    const std::string text = serial_.document(TORVELA_VERSION, form_->memory_file_path);
    std::FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
}

// ---- timers -------------------------------------------------------------------------
// Timer1 steps every 4 ms: finer than a window timer's 10 ms and more, so
// the three timers are multimedia timers that post a message to the window;
// one message of a timer waits at a time, a late tick is not made up for.
constexpr DWORD lost_tick_ms = 50;

void CALLBACK main_window::timer_callback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* t = reinterpret_cast<timer_slot*>(user);
    // A modal loop that ends may drop a message it has already taken out of
    // the queue: a tick that has waited for long is posted again.
    const DWORD now = timeGetTime();
    if (t->pending.exchange(true) && now - t->posted_at < lost_tick_ms) return;
    t->posted_at = now;
    if (!PostMessageW(t->window, tick_message, static_cast<WPARAM>(t->index), 0)) t->pending = false;
}

void main_window::start_timers() {
    timeBeginPeriod(1);
    // One multimedia timer at the engine's 4 ms drives all three: the
    // sequencer's phases then fall on one grid that starts at the press.
    slots_[0].window = hwnd_;
    slots_[0].index = 0;
    slots_[0].id = timeSetEvent(static_cast<UINT>(form_->Timer1.interval), 1, timer_callback,
                                reinterpret_cast<DWORD_PTR>(&slots_[0]), TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
}

void main_window::stop_timers() {
    bool any = false;
    for (timer_slot& t : slots_)
        if (t.id != 0) {
            timeKillEvent(t.id);
            t.id = 0;
            any = true;
        }
    if (any) timeEndPeriod(1);
}

void main_window::on_tick(int index) {
    slots_[index].pending = false;
    // Each timer runs when it is due; ticks that queued while the window was
    // held run once, not in a burst.
    const auto now = static_cast<std::int64_t>(timeGetTime());
    bool ran = false;
    for (int i = 0; i < torvela::timer_driver::timers; ++i) ran = clock_->offer(i, now) || ran;
    if (ran) refresh();
}

void main_window::unload() {
    if (unloaded_ || !form_) return;
    unloaded_ = true;
    torvela::Form_Unload(*form_);
}

main_window::binding* main_window::find(int id) {
    for (binding& b : bindings_)
        if (b.id == id) return &b;
    return nullptr;
}

bool main_window::pre_translate(const MSG& msg) {
    // Ctrl+Shift+F12 toggles the service view wherever the focus is.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_F12 && (GetKeyState(VK_CONTROL) & 0x8000) &&
        (GetKeyState(VK_SHIFT) & 0x8000)) {
        set_service_view(!service_view_);
        return true;
    }
    return false;
}

LRESULT main_window::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case tick_message:
        on_tick(static_cast<int>(wp));
        return 0;
    case inform_message:
        while (!box_.pending.empty()) {
            const auto [text, title] = box_.pending.front();
            box_.pending.pop_front();
            MessageBoxW(hwnd_, text.c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
        }
        return 0;
    case WM_COMMAND: {
        const int id = LOWORD(wp), code = HIWORD(wp);
        if (id == save_trace_id && code == BN_CLICKED) {
            save_trace();
            return 0;
        }
        binding* b = find(id);
        if (!b || syncing_) break;
        torvela::control& c = *b->c;
        switch (c.kind) {
        case torvela::control_kind::button:
            if (code == BN_CLICKED) fire(c, torvela::control_event::click);
            break;
        case torvela::control_kind::check:
        case torvela::control_kind::option:
            if (code == BN_CLICKED) {
                c.value = SendMessageW(b->w, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
                fire(c, torvela::control_event::click);
            }
            break;
        case torvela::control_kind::combo:
            if (code == CBN_SELCHANGE) {
                const LRESULT i = SendMessageW(b->w, CB_GETCURSEL, 0, 0);
                if (i >= 0 && static_cast<std::size_t>(i) < c.items.size()) {
                    c.caption = c.items[static_cast<std::size_t>(i)];
                    fire(c, torvela::control_event::click);
                }
            } else if (code == CBN_EDITCHANGE) {
                c.caption = utf8(window_text(b->w));
                fire(c, torvela::control_event::change);
            }
            break;
        case torvela::control_kind::text:
            if (code == EN_CHANGE) c.caption = utf8(window_text(b->w));
            break;
        default:
            break;
        }
        return 0;
    }
    case 0x02E0:  // WM_DPICHANGED: dragged to a monitor of another DPI
        set_service_view(service_view_);
        return 0;
    case WM_DRAWITEM: {
        const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (const binding* b = find(static_cast<int>(d->CtlID))) {
            const std::string& name = b->c->name;
            draw_picture(d->hDC, d->rcItem, std::atoi(name.c_str() + 5));  // "ImageN"
        }
        return TRUE;
    }
    case WM_CLOSE:
        stop_timers();
        unload();
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK main_window::proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    // No exception may cross back into the system: one that the core's own
    // barrier did not take is written to the trace and the message ends.
    try {
        if (self_ && self_->hwnd_ == w) return self_->handle(msg, wp, lp);
    } catch (const std::exception& e) {
        if (self_) self_->serial_.note(std::string("internal error in the window: ") + e.what());
        return 0;
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace torvela_win32
