// The TORVELA window on Windows: native controls drawn from the core's
// control table. Every click, text change and timer tick goes to the core's
// driver; the controls it says changed are drawn again afterwards.
#include "window.hpp"

#include <mmsystem.h>
#include <shellapi.h>

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

// A check box or an option button: the system's mark drawn to the control's
// size. The system's own control draws its mark at the monitor's DPI
// whatever the control's size, which clips it where the window is scaled
// down to fit the screen.
void draw_mark(const DRAWITEMSTRUCT& d, torvela::control_kind kind, bool on) {
    FillRect(d.hDC, &d.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    const int w = d.rcItem.right - d.rcItem.left, h = d.rcItem.bottom - d.rcItem.top;
    const int side = std::max(6, std::min(w, h) - 4);
    RECT mark{d.rcItem.left + 2, d.rcItem.top + (h - side) / 2, 0, 0};
    mark.right = mark.left + side;
    mark.bottom = mark.top + side;
    DrawFrameControl(d.hDC, &mark, DFC_BUTTON,
                     (kind == torvela::control_kind::option ? DFCS_BUTTONRADIO : DFCS_BUTTONCHECK) |
                         (on ? DFCS_CHECKED : 0) | ((d.itemState & ODS_DISABLED) ? DFCS_INACTIVE : 0));
    if (d.itemState & ODS_FOCUS) {
        InflateRect(&mark, 1, 1);
        DrawFocusRect(d.hDC, &mark);
    }
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
    INITCOMMONCONTROLSEX common{sizeof common, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&common);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    hwnd_ = CreateWindowExW(0, window_class, L"TORVELA", style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr,
                            nullptr, instance, nullptr);
    if (!hwnd_) return false;
    box_.owner = hwnd_;
    dialogs_.owner = hwnd_;
    form_ = std::make_unique<torvela::main_form>(services_.serial, box_, dialogs_, services_.files);
    form_->history = &services_.history;
    services_.attach(*form_);
    form_->program = "torvela";
    driver_ = std::make_unique<torvela::front_driver>(*form_, services_.serial,
                                                      torvela::timer_driver::offered::by_one_timer);
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
        // The status line takes the mouse, for the tip of its reason.
        case torvela::control_kind::label: style |= SS_LEFT | SS_NOPREFIX | (c == &form_->Label9 ? SS_NOTIFY : 0); break;
        case torvela::control_kind::button: cls = L"BUTTON"; style |= BS_PUSHBUTTON | WS_TABSTOP; break;
        case torvela::control_kind::combo: cls = L"COMBOBOX"; style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP; break;
        case torvela::control_kind::check:
        case torvela::control_kind::option: cls = L"BUTTON"; style |= BS_OWNERDRAW | WS_TABSTOP; break;
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
    trace_ = child(L"LISTBOX", L"", LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL | WS_HSCROLL, trace_id,
                   WS_EX_CLIENTEDGE);
    progress_ = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, progress_id);
    save_trace_ = child(L"BUTTON", L"SAVE TRACE", BS_PUSHBUTTON, save_trace_id);
    // The last jobs of the history, and the folder of the units kept.
    jobs_ = child(L"LISTBOX", L"", LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL, jobs_id, WS_EX_CLIENTEDGE);
    kept_units_ = child(L"BUTTON", L"KEPT UNITS", BS_PUSHBUTTON, kept_units_id);
    // A failure's detail under the status line: wrapped, read-only, to be
    // selected and copied; hidden while there is nothing to say.
    detail_ = child(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, detail_id);
    // The reason behind the status line, on it as a tip.
    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0,
                           0, hwnd_, nullptr, instance, nullptr);
    TOOLINFOW tool = status_tool();
    tool.uFlags |= TTF_SUBCLASS;
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 600);
}

TOOLINFOW main_window::status_tool() const {
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(find(&form_->Label9)->w);
    return tool;
}

void main_window::set_fonts(double scale) {
    if (scale == scale_ && font_) return;
    scale_ = scale;
    // The fonts of the old scale go once every control has its new one.
    auto old = std::move(fonts_);
    fonts_ = std::make_unique<face_fonts>(window_texts());
    font_ = fonts_->font_for(L"", px(12));
    for (const widget& b : widgets_) set_font(b.w, fonts_->font_for(wide(b.c->caption), px(12)));
    for (HWND w : {trace_, progress_, save_trace_, jobs_, kept_units_, detail_}) set_font(w, font_);
    SendMessageW(trace_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(px(7 * torvela::trace_view_columns)), 0);
}

void main_window::fit_caption(const widget& b, const std::wstring& caption) {
    // A button's caption on one line within its edges: in a smaller face
    // where the window's is too wide for it (a long caption, a wide face).
    RECT r{};
    GetClientRect(b.w, &r);
    const int room = r.right - r.left - px(8);
    HDC dc = GetDC(b.w);
    const HGDIOBJ was = SelectObject(dc, fonts_->font_for(caption, px(12)));
    SIZE size{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, was);
    ReleaseDC(b.w, dc);
    int height = px(12);
    if (size.cx > room && room > 0) height = std::max(px(8), px(12) * room / static_cast<int>(size.cx));
    set_font(b.w, fonts_->font_for(caption, height));
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
        {trace_, torvela::trace_view_place},   {progress_, torvela::progress_place},
        {save_trace_, torvela::save_trace_place}, {jobs_, torvela::jobs_view_place},
        {kept_units_, torvela::kept_units_place}};
    for (const auto& [w, place] : parts) {
        MoveWindow(w, px(place.x), px(place.y), px(place.width), px(place.height), TRUE);
        ShowWindow(w, on ? SW_SHOW : SW_HIDE);
    }
    const torvela::rect& d = torvela::detail_place;
    MoveWindow(detail_, px(d.x), px(d.y), px(d.width), px(d.height), TRUE);
    driver_->set_service_view(on);
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
    const bool button = c.kind == torvela::control_kind::button;
    if (change.has(part::items)) {
        SendMessageW(w, CB_RESETCONTENT, 0, 0);
        for (const std::string& item : c.items) SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
    }
    if (change.has(part::value)) InvalidateRect(w, nullptr, TRUE);
    if (button && (change.has(part::caption) || change.has(part::place))) fit_caption(*find(change.c), wide(c.caption));
    if (!change.has(part::caption)) return;
    // A caption the window's face does not draw gets a face that does.
    if (!button) set_font(w, fonts_->font_for(wide(c.caption), px(12)));
    if (c.kind == torvela::control_kind::combo || c.kind == torvela::control_kind::text)
        set_text_if_other(w, c.caption);
    else if (c.kind == torvela::control_kind::label || button)
        SetWindowTextW(w, wide(c.caption).c_str());
}

void main_window::refresh() {
    const torvela::front_driver::redraw r = driver_->refresh(now());
    for (const torvela::control_change& change : r.controls) draw(change);
    if (r.title) SetWindowTextW(hwnd_, wide(*r.title).c_str());
    if (r.status_tip) {
        const std::wstring text = wide(*r.status_tip);
        TOOLINFOW tool = status_tool();
        tool.lpszText = const_cast<wchar_t*>(text.c_str());
        SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (r.progress) SetWindowTextW(progress_, wide(*r.progress).c_str());
    if (r.detail) {
        const std::wstring text = wide(*r.detail);
        set_font(detail_, fonts_->font_for(text, px(12)));
        SetWindowTextW(detail_, text.c_str());
        ShowWindow(detail_, r.detail->empty() ? SW_HIDE : SW_SHOW);
    }
    show_trace(r.trace);
    if (r.jobs) {
        SendMessageW(jobs_, LB_RESETCONTENT, 0, 0);
        for (const std::string& line : *r.jobs)
            SendMessageW(jobs_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(line).c_str()));
        const LRESULT lines = SendMessageW(jobs_, LB_GETCOUNT, 0, 0);
        SendMessageW(jobs_, LB_SETTOPINDEX, static_cast<WPARAM>(std::max<LRESULT>(0, lines - 1)), 0);
    }
}

void main_window::open_kept_units() {
    const std::string folder = driver_->kept_units_folder();
    const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        reinterpret_cast<INT_PTR>(ShellExecuteW(hwnd_, L"open", wide(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32)
        return;
    const std::string text = folder.empty() ? "No unit is kept: this user has no data folder."
                                            : "No unit has been kept in " + folder + " yet, or it cannot be shown.";
    MessageBoxW(hwnd_, wide(text).c_str(), L"KEPT UNITS", MB_OK | MB_ICONINFORMATION);
}

void main_window::show_trace(const torvela::trace_feed::update& u) {
    if (u.text.empty()) return;
    // A list of lines: a line added costs the same however many the view
    // holds, where an edit field lays out and draws its whole text again.
    // Drawn once for all the lines that came in.
    SendMessageW(trace_, WM_SETREDRAW, FALSE, 0);
    if (u.replace) SendMessageW(trace_, LB_RESETCONTENT, 0, 0);
    const std::wstring text = wide(u.text);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find(L"\r\n", at);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(at, end - at);
        SendMessageW(trace_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        at = end + 2;
    }
    // The newest line in view.
    const LRESULT lines = SendMessageW(trace_, LB_GETCOUNT, 0, 0);
    SendMessageW(trace_, LB_SETTOPINDEX, static_cast<WPARAM>(std::max<LRESULT>(0, lines - 1)), 0);
    SendMessageW(trace_, WM_SETREDRAW, TRUE, 0);
    // Each line draws its own background: nothing to erase first.
    RedrawWindow(trace_, nullptr, nullptr, RDW_INVALIDATE | RDW_NOERASE);
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
    const bool heard = services_.take_shop_note(*form_);
    if (driver_->tick(now()) || heard) refresh();
}

void main_window::unload() {
    if (driver_) driver_->unload();
}

main_window::widget* main_window::find(int id) {
    for (widget& b : widgets_)
        if (b.id == id) return &b;
    return nullptr;
}

const main_window::widget* main_window::find(const torvela::control* c) const {
    for (const widget& b : widgets_)
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
    if (id == kept_units_id && code == BN_CLICKED) return open_kept_units();
    widget* b = find(id);
    if (!b) return;
    torvela::control& c = *b->c;
    const std::int64_t at = now();
    // Only the operator's acts go to the driver, and only an act that ran
    // an event draws the window again.
    switch (c.kind) {
    case torvela::control_kind::button:
        if (code != BN_CLICKED) return;
        driver_->pressed(c, at);
        break;
    case torvela::control_kind::check:
    case torvela::control_kind::option:
        // Drawn by the window: a click turns a check box over and chooses
        // an option button.
        if (code != BN_CLICKED && code != BN_DOUBLECLICKED) return;
        driver_->clicked(c, c.kind == torvela::control_kind::option || c.value != 1, at);
        break;
    case torvela::control_kind::combo:
        if (code == CBN_SELCHANGE) {
            const LRESULT i = SendMessageW(b->w, CB_GETCURSEL, 0, 0);
            if (i < 0 || static_cast<std::size_t>(i) >= c.items.size()) return;
            driver_->picked(c, c.items[static_cast<std::size_t>(i)], at);
        } else if (code == CBN_EDITCHANGE) {
            driver_->typed(c, utf8(window_text(b->w)), at);
        } else {
            return;
        }
        break;
    case torvela::control_kind::text:
        // The text is taken; no event follows.
        if (code == EN_CHANGE) driver_->typed(c, utf8(window_text(b->w)), at);
        return;
    default:
        return;
    }
    refresh();
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
        const widget* b = find(static_cast<int>(d->CtlID));
        if (b && b->c->kind == torvela::control_kind::image)
            draw_picture(d->hDC, d->rcItem, torvela::picture_number(*b->c));
        else if (b)
            draw_mark(*d, b->c->kind, b->c->value == 1);
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
        if (self_) self_->services_.serial.note(std::string("internal error in the window: ") + e.what());
        return 0;
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace torvela_win32
