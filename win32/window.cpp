// The TORVELA window on Windows: native controls drawn from the core's
// control table. Every click, text change and timer tick goes to the core's
// driver; the controls it says changed are drawn again afterwards.
#include "window.hpp"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <exception>

namespace torvela_win32 {

namespace {

constexpr UINT tick_message = WM_APP + 1;

std::wstring window_text(HWND w) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Sets the text only where the control shows another: setting it while the
// operator types would move the cursor.
void set_text_if_other(HWND w, const std::string& text) {
    if (utf8(window_text(w)) != text) SetWindowTextW(w, wide(text).c_str());
}

COLORREF colour(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// A busy picture, as the core's shapes.
void draw_picture(HDC dc, RECT r, int n) {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    for (const torvela::shape& s : torvela::picture_shapes(n, {r.left, r.top, r.right - r.left, r.bottom - r.top})) {
        HPEN pen = CreatePen(PS_SOLID, s.pen_width, colour(s.pen));
        HBRUSH brush = s.brush == torvela::no_fill ? nullptr : CreateSolidBrush(colour(s.brush));
        const HGDIOBJ old_pen = SelectObject(dc, pen);
        const HGDIOBJ old_brush = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
        const int l = s.at.x, t = s.at.y, rr = s.at.x + s.at.width, b = s.at.y + s.at.height;
        switch (s.what) {
        case torvela::shape::kind::ellipse: Ellipse(dc, l, t, rr, b); break;
        case torvela::shape::kind::pie: {
            // Counter-clockwise from the first radial to the second.
            const double from = std::min(s.start_deg, s.start_deg + s.span_deg) * 3.14159265358979 / 180;
            const double to = std::max(s.start_deg, s.start_deg + s.span_deg) * 3.14159265358979 / 180;
            const double cx = (l + rr) / 2.0, cy = (t + b) / 2.0, rx = s.at.width / 2.0, ry = s.at.height / 2.0;
            Pie(dc, l, t, rr, b, static_cast<int>(cx + rx * std::cos(from)), static_cast<int>(cy - ry * std::sin(from)),
                static_cast<int>(cx + rx * std::cos(to)), static_cast<int>(cy - ry * std::sin(to)));
            break;
        }
        case torvela::shape::kind::line:
            MoveToEx(dc, l, t, nullptr);
            LineTo(dc, rr, b);
            break;
        case torvela::shape::kind::box: Rectangle(dc, l, t, rr, b); break;
        case torvela::shape::kind::rounded_box: RoundRect(dc, l, t, rr, b, 4, 4); break;
        }
        SelectObject(dc, old_pen);
        SelectObject(dc, old_brush);
        DeleteObject(pen);
        if (brush) DeleteObject(brush);
    }
}

// The monitor's pixels per 96 (the design's), read where the system says.
double dpi_scale(HWND w) {
    using get_dpi = UINT(WINAPI*)(HWND);
    static const auto for_window = reinterpret_cast<get_dpi>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = for_window ? for_window(w) : 96;
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

}  // namespace

main_window* main_window::self_ = nullptr;

main_window::main_window() {
    self_ = this;
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&started_);
}

main_window::~main_window() {
    stop_timer();
    unload();
    self_ = nullptr;
}

std::int64_t main_window::now() const {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (t.QuadPart - started_.QuadPart) * 1000 / frequency_.QuadPart;
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
    driver_ = std::make_unique<torvela::front_driver>(*form_, serial_, torvela::timer_driver::offered::by_one_timer);
    build();
    driver_->load(now());
    set_service_view(false);
    ShowWindow(hwnd_, SW_SHOW);
    start_timer();
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
        widgets_.push_back({c, w, this_id});
    }
    auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int child_id, DWORD ex = 0) {
        return CreateWindowExW(ex, cls, text, WS_CHILD | style, 0, 0, 1, 1, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(child_id)), instance, nullptr);
    };
    // Long lines scroll sideways: wrapping a page's hex on every append
    // would cost the engine its ticks.
    trace_ = child(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL,
                   trace_id, WS_EX_CLIENTEDGE);
    progress_ = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, progress_id);
    save_trace_ = child(L"BUTTON", L"SAVE TRACE", BS_PUSHBUTTON, save_trace_id);
}

void main_window::set_fonts(double scale) {
    if (scale == scale_ && font_) return;
    scale_ = scale;
    HFONT old = font_;
    font_ = japanese_ui_font(-px(12));
    dialogs_.font = font_;
    for (const widget& b : widgets_) SendMessageW(b.w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    for (HWND w : {trace_, progress_, save_trace_}) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    if (old) DeleteObject(old);
}

void main_window::set_service_view(bool on) {
    const torvela::rect area = torvela::window_area(on);
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
    set_fonts(std::min({dpi_scale(hwnd_), static_cast<double>(room_h) / area.height,
                        static_cast<double>(room_w) / area.width}));
    RECT r{0, 0, px(area.width), px(area.height)};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    // Moved up where the grown window would reach below the work area.
    RECT at{};
    GetWindowRect(hwnd_, &at);
    const int top = std::max<int>(mi.rcWork.top, std::min<int>(at.top, mi.rcWork.bottom - (r.bottom - r.top)));
    const int left = std::max<int>(mi.rcWork.left, std::min<int>(at.left, mi.rcWork.right - (r.right - r.left)));
    SetWindowPos(hwnd_, nullptr, left, top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
    const std::pair<HWND, torvela::rect> parts[] = {
        {trace_, torvela::trace_view_place}, {progress_, torvela::progress_place}, {save_trace_, torvela::save_trace_place}};
    for (const auto& [w, place] : parts) {
        MoveWindow(w, px(place.x), px(place.y), px(place.width), px(place.height), TRUE);
        ShowWindow(w, on ? SW_SHOW : SW_HIDE);
    }
    driver_->set_service_view(on);
    refresh();
}

void main_window::fire(torvela::control& c, torvela::control_event e) {
    driver_->event(c, e, now());
    refresh();
}

void main_window::draw(const torvela::control_change& change) {
    const torvela::control& c = *change.c;
    HWND w = find(change.c)->w;
    using part = torvela::redraw_part;
    if (change.has(part::place)) {
        const torvela::rect& r = change.at;
        // A combo box's height takes its list.
        const int height = c.kind == torvela::control_kind::combo ? r.height * 8 : r.height;
        MoveWindow(w, px(r.x), px(r.y), px(r.width), px(height), TRUE);
    }
    if (change.has(part::shown)) ShowWindow(w, change.shown ? SW_SHOW : SW_HIDE);
    if (change.has(part::enabled)) EnableWindow(w, c.enabled);
    if (change.has(part::items)) {
        SendMessageW(w, CB_RESETCONTENT, 0, 0);
        for (const std::string& item : c.items) SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
    }
    if (change.has(part::value)) SendMessageW(w, BM_SETCHECK, c.value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    if (!change.has(part::caption)) return;
    if (c.kind == torvela::control_kind::combo || c.kind == torvela::control_kind::text)
        set_text_if_other(w, c.caption);
    else if (c.kind != torvela::control_kind::image)
        SetWindowTextW(w, wide(c.caption).c_str());
}

void main_window::refresh() {
    const torvela::front_driver::redraw r = driver_->refresh(now());
    syncing_ = true;
    for (const torvela::control_change& change : r.controls) draw(change);
    syncing_ = false;
    if (r.title) SetWindowTextW(hwnd_, wide(*r.title).c_str());
    if (r.progress) SetWindowTextW(progress_, wide(*r.progress).c_str());
    show_trace(r.trace);
}

void main_window::show_trace(const torvela::trace_feed::update& u) {
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
    const std::string path = choose_trace_file(hwnd_);
    if (!path.empty() && !driver_->save_trace(path))
        MessageBoxW(hwnd_, wide(torvela::trace_not_saved(path)).c_str(), L"SAVE TRACE", MB_OK | MB_ICONWARNING);
}

// ---- the timers ---------------------------------------------------------------------
// Timer1 steps every 4 ms: finer than a window timer's 10 ms and more, so
// one multimedia timer at the engine's interval posts a message to the
// window, and the driver runs each of the three timers when it is due; one
// message waits at a time, a late tick is not made up for.
constexpr DWORD lost_tick_ms = 50;

void CALLBACK main_window::timer_callback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto* t = reinterpret_cast<timer_slot*>(user);
    // A modal loop that ends may drop a message it has already taken out of
    // the queue: a tick that has waited for long is posted again.
    const DWORD at = timeGetTime();
    if (t->pending.exchange(true) && at - t->posted_at < lost_tick_ms) return;
    t->posted_at = at;
    if (!PostMessageW(t->window, tick_message, 0, 0)) t->pending = false;
}

void main_window::start_timer() {
    timeBeginPeriod(1);
    slot_.window = hwnd_;
    slot_.id = timeSetEvent(static_cast<UINT>(form_->Timer1.interval), 1, timer_callback,
                            reinterpret_cast<DWORD_PTR>(&slot_), TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
}

void main_window::stop_timer() {
    if (slot_.id == 0) return;
    timeKillEvent(slot_.id);
    slot_.id = 0;
    timeEndPeriod(1);
}

void main_window::on_tick() {
    slot_.pending = false;
    if (driver_->tick(now())) refresh();
}

void main_window::unload() {
    if (driver_) driver_->unload();
}

main_window::widget* main_window::find(int id) {
    for (widget& b : widgets_)
        if (b.id == id) return &b;
    return nullptr;
}

main_window::widget* main_window::find(const torvela::control* c) {
    for (widget& b : widgets_)
        if (b.c == c) return &b;
    return nullptr;
}

bool main_window::pre_translate(const MSG& msg) {
    // Ctrl+Shift+F12 toggles the service view wherever the focus is.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_F12 && (GetKeyState(VK_CONTROL) & 0x8000) &&
        (GetKeyState(VK_SHIFT) & 0x8000)) {
        set_service_view(!driver_->service_view());
        return true;
    }
    return false;
}

void main_window::command(int id, int code) {
    if (id == save_trace_id && code == BN_CLICKED) return save_trace();
    widget* b = find(id);
    if (!b || syncing_) return;
    torvela::control& c = *b->c;
    switch (c.kind) {
    case torvela::control_kind::button:
        if (code == BN_CLICKED) fire(c, torvela::control_event::click);
        break;
    case torvela::control_kind::check:
    case torvela::control_kind::option:
        if (code != BN_CLICKED) break;
        c.value = SendMessageW(b->w, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        fire(c, torvela::control_event::click);
        break;
    case torvela::control_kind::combo:
        if (code == CBN_SELCHANGE) {
            const LRESULT i = SendMessageW(b->w, CB_GETCURSEL, 0, 0);
            if (i < 0 || static_cast<std::size_t>(i) >= c.items.size()) break;
            c.caption = c.items[static_cast<std::size_t>(i)];
            fire(c, torvela::control_event::click);
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
}

LRESULT main_window::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case tick_message:
        on_tick();
        return 0;
    case inform_message:
        box_.show_pending();
        return 0;
    case WM_COMMAND:
        command(LOWORD(wp), HIWORD(wp));
        return 0;
    case 0x02E0:  // WM_DPICHANGED: dragged to a monitor of another DPI
        set_service_view(driver_->service_view());
        return 0;
    case WM_DRAWITEM: {
        const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (const widget* b = find(static_cast<int>(d->CtlID)))
            draw_picture(d->hDC, d->rcItem, std::atoi(b->c->name.c_str() + 5));  // "ImageN"
        return TRUE;
    }
    case WM_CLOSE:
        stop_timer();
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
