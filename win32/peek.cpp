// A small reader of the TORVELA window for the tests under Wine: finds the
// window and reads or answers what an operator would see.
//   torvela-peek wait                      the window is shown and takes input
//   torvela-peek text NAME                 the text a control shows
//   torvela-peek lines NAME                the lines of a list box, one a line
//   torvela-peek visible NAME              1 when shown, else 0
//   torvela-peek point NAME                the control's centre on the screen, "x y"
//   torvela-peek title                     the window's title
//   torvela-peek wait-text NAME TEXT [S]   until the control shows TEXT (S seconds, default 60)
//   torvela-peek answer yes|no|ok          clicks the button of the message box that is open
//   torvela-peek close                     asks the window to close, as its close box does
//   torvela-peek shot FILE [screen]        the window (or the screen) as a picture (binary PPM)
//   torvela-peek boxes NAME                how many characters of the control's text the
//                                          control's font draws as the box of a missing glyph
//                                          (-1: its font cannot be read)
//   torvela-peek face NAME                 the face the window gave the control
//   torvela-peek faces                     the installed faces, in the order the window tries them
//   torvela-peek boxes-all                 the same for every shown control with a text;
//                                          names those with a box (exit 1)
//   torvela-peek whole                     every shown button, check box and option button
//                                          drawn whole: a caption's letters clear of the
//                                          button's edges, a mark inside its control; names
//                                          those that are not (exit 1)
//   torvela-peek blocks                    waits for the block dialog, tells whether its
//                                          check boxes and OK are drawn whole (as whole
//                                          does), then presses its OK
//   torvela-peek tip                       the text of the tip shown on the window
//   torvela-peek console FILE COMMAND      runs COMMAND in a console of its own and writes
//                                          what the console shows to FILE (UTF-8, a row a
//                                          line); the exit status is the command's
// Exit status 0 when done, 1 when the window or the control is not there
// (or the wait ran out), 2 for a usage error.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/main_form.hpp"
#include "text.hpp"

#include <shellapi.h>

namespace {

using namespace std::chrono_literals;

HWND main_window() { return FindWindowW(torvela_win32::window_class, nullptr); }

HWND control(const std::string& name) {
    HWND w = main_window();
    if (!w) return nullptr;
    int id = torvela_win32::first_control_id;
    for (const torvela::control_design& d : torvela::control_table()) {
        if (name == d.name) return GetDlgItem(w, id);
        ++id;
    }
    for (const torvela_win32::service_control& c : torvela_win32::service_controls)
        if (name == c.name) return GetDlgItem(w, c.id);
    return nullptr;
}

std::string text_of(HWND w) {
    // A combo box's text is its edit field's.
    wchar_t cls[64];
    GetClassNameW(w, cls, 64);
    if (std::wstring(cls) == L"ComboBox")
        if (HWND edit = GetWindow(w, GW_CHILD)) w = edit;
    // Asked of the control itself: another program's edit field keeps its
    // text where GetWindowText does not look.
    const auto length = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto got = SendMessageW(w, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got));
    return torvela_win32::utf8(text);
}

// The message box our window opened (a dialog of the system's class).
HWND message_box() {
    struct search {
        HWND owner, found;
    } s{main_window(), nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* q = reinterpret_cast<search*>(p);
            wchar_t cls[64];
            GetClassNameW(w, cls, 64);
            if (std::wstring(cls) == L"#32770" && GetWindow(w, GW_OWNER) == q->owner && IsWindowVisible(w)) {
                q->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The characters of `text` that the window's font draws exactly as it
// draws a character no font has (the box): each is drawn alone into a
// bitmap and its pixels compared with the box's.
// The face a control of the window draws with, as the window says it (the
// window is another process: its font is made again here).
bool control_font(HWND c, LOGFONTW& lf) {
    const auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(c, torvela_win32::face_property)));
    wchar_t said[LF_FACESIZE + 8] = {};
    if (!atom || GlobalGetAtomNameW(atom, said, LF_FACESIZE + 8) == 0) return false;
    const std::wstring text = said;
    const std::size_t bar = text.rfind(L'|');
    if (bar == std::wstring::npos || bar >= LF_FACESIZE) return false;
    text.copy(lf.lfFaceName, bar);
    lf.lfCharSet = static_cast<BYTE>(std::stoi(text.substr(bar + 1)));
    return true;
}

int drawn_as_boxes(HWND c, const std::wstring& text) {
    const int size = 64;
    LOGFONTW lf{};
    if (!control_font(c, lf)) return -1;
    lf.lfHeight = -32;
    lf.lfWidth = 0;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old_bmp = SelectObject(mem, bmp);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old_font = SelectObject(mem, font);
    auto cell = [&](wchar_t ch) {
        RECT r{0, 0, size, size};
        FillRect(mem, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        TextOutW(mem, 4, 4, &ch, 1);
        std::wstring pixels;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) pixels.push_back(GetPixel(mem, x, y) == RGB(255, 255, 255) ? L'.' : L'#');
        return pixels;
    };
    const std::wstring box = cell(L'\x0378');  // unassigned: every font's missing glyph
    int boxes = 0;
    for (wchar_t ch : text)
        if (ch > L' ' && ch != 0x3000 && cell(ch) == box) ++boxes;
    SelectObject(mem, old_font);
    DeleteObject(font);
    SelectObject(mem, old_bmp);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return boxes;
}

// The screen's pixels in `r`, 0xRRGGBB, a row after another.
std::vector<std::uint32_t> grab(const RECT& r) {
    const int width = r.right - r.left, height = r.bottom - r.top;
    std::vector<std::uint32_t> out;
    if (width <= 0 || height <= 0) return out;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    const auto* px = static_cast<const std::uint32_t*>(bits);
    out.assign(px, px + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::uint32_t& p : out) p &= 0xFFFFFF;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return out;
}

// Why the control `w` is not drawn whole, or "" when it is. A button's
// caption (its black ink) stays 4 pixels clear of its edges, where the
// frame is drawn; a cut caption runs into them. A check box's or an option
// button's mark (what differs from the face) lies inside the control with
// a pixel to spare on each side, about as wide as high; a clipped one
// touches the control's edge. The system's own check box draws its mark
// against its left edge (`flush_left`): only the other sides clip it.
std::string not_whole(HWND w, torvela::control_kind kind, bool flush_left = false) {
    RECT r;
    GetWindowRect(w, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const std::vector<std::uint32_t> px = grab(r);
    if (px.empty()) return "not on the screen";
    const std::uint32_t face = GetSysColor(COLOR_BTNFACE);
    const auto face_rgb = ((face & 0xFF) << 16) | (face & 0xFF00) | ((face >> 16) & 0xFF);
    int left = width, right = -1, top = height, bottom = -1;
    const bool button = kind == torvela::control_kind::button;
    for (int y = button ? 4 : 0; y < (button ? height - 4 : height); ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = px[static_cast<std::size_t>(y * width + x)];
            const bool ink = button ? ((p >> 16) & 0xFF) < 48 && ((p >> 8) & 0xFF) < 48 && (p & 0xFF) < 48 : p != face_rgb;
            if (!ink) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    char why[160] = "";
    if (button) {
        if (right >= 0 && (left < 4 || right > width - 5))
            std::snprintf(why, sizeof why, "its caption runs into its edges (ink from %d to %d of %d)", left, right, width);
    } else if (right < 0) {
        std::snprintf(why, sizeof why, "no mark is drawn");
    } else if (left < (flush_left ? 0 : 1) || top < 1 || right > width - 2 || bottom > height - 2 ||
               std::abs((right - left) - (bottom - top)) > 1) {
        std::snprintf(why, sizeof why, "its mark (%d,%d)-(%d,%d) is clipped by its %dx%d control", left, top, right,
                      bottom, width, height);
    }
    return why;
}

// The tip our window shows now (a tooltip window of its own that is shown).
HWND shown_tip() {
    struct search {
        DWORD process;
        HWND found;
    } s{0, nullptr};
    GetWindowThreadProcessId(main_window(), &s.process);
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* q = reinterpret_cast<search*>(p);
            wchar_t cls[64];
            GetClassNameW(w, cls, 64);
            DWORD process = 0;
            GetWindowThreadProcessId(w, &process);
            if (std::wstring(cls) == L"tooltips_class32" && process == q->process && IsWindowVisible(w)) {
                q->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

template <class Done>
bool wait_for(Done done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// What a console shows after `command` (wide: a path in Japanese stays
// whole) has written to it, read back with the console's own calls.
int run_in_console(const std::wstring& file, std::wstring command) {
    FreeConsole();
    if (!AllocConsole()) return 1;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) return 1;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 1;
    WaitForSingleObject(pi.hProcess, 300000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info)) return 1;
    std::string shown;
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD got = 0;
        ReadConsoleOutputCharacterW(out, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &got);
        row.resize(got);
        while (!row.empty() && row.back() == L' ') row.pop_back();
        shown += torvela_win32::utf8(row) + "\n";
    }
    std::FILE* to = _wfopen(file.c_str(), L"wb");
    if (!to) return 1;
    std::fwrite(shown.data(), 1, shown.size(), to);
    std::fclose(to);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string op = argv[1];
    if (op == "console" && argc == 4) {
        int n = 0;
        wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &n);
        if (!args || n != 4) return 2;
        const std::wstring file = args[2], command = args[3];
        LocalFree(args);
        return run_in_console(file, command);
    }
    if (op == "wait") {
        // Shown, and its thread in its message loop: a click sent now reaches
        // it rather than a window still being made.
        return wait_for(
                   [] {
                       HWND w = main_window();
                       DWORD_PTR unused = 0;
                       return w && IsWindowVisible(w) &&
                              SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &unused) != 0;
                   },
                   60s)
                   ? 0
                   : 1;
    }
    if (op == "whole") {
        HWND w = main_window();
        if (!w) return 1;
        int id = torvela_win32::first_control_id, looked = 0, broken = 0;
        for (const torvela::control_design& d : torvela::control_table()) {
            HWND c = GetDlgItem(w, id++);
            if (!c || !IsWindowVisible(c) || d.kind == torvela::control_kind::label ||
                d.kind == torvela::control_kind::combo || d.kind == torvela::control_kind::text ||
                d.kind == torvela::control_kind::image)
                continue;
            ++looked;
            if (const std::string why = not_whole(c, d.kind); !why.empty()) {
                std::printf("%s: %s\n", d.name, why.c_str());
                ++broken;
            }
        }
        std::printf("%d of %d controls drawn whole\n", looked - broken, looked);
        return broken == 0 && looked > 0 ? 0 : 1;
    }
    if (op == "faces") {
        // The faces this process sees installed, in the order the window
        // tries them.
        for (const torvela_win32::installed_face& f : torvela_win32::faces_to_try())
            std::printf("%s\n", torvela_win32::utf8(f.name).c_str());
        return 0;
    }
    if (op == "boxes-all") {
        // Every shown control's text, the Latin letters as much as the
        // Japanese: those with a box are named.
        HWND w = main_window();
        if (!w) return 1;
        int id = torvela_win32::first_control_id, looked = 0, broken = 0;
        for (const torvela::control_design& d : torvela::control_table()) {
            HWND c = GetDlgItem(w, id++);
            if (!c || !IsWindowVisible(c) || d.kind == torvela::control_kind::image) continue;
            const std::wstring text = torvela_win32::wide(text_of(c));
            if (text.empty()) continue;
            ++looked;
            if (const int boxes = drawn_as_boxes(c, text); boxes != 0) {
                std::printf("%s: %d boxes in \"%s\"\n", d.name, boxes, text_of(c).c_str());
                ++broken;
            }
        }
        // And a failure's detail, where one is shown.
        if (HWND c = GetDlgItem(w, torvela_win32::detail_id); c && IsWindowVisible(c)) {
            ++looked;
            if (const int boxes = drawn_as_boxes(c, torvela_win32::wide(text_of(c))); boxes != 0) {
                std::printf("detail: %d boxes\n", boxes);
                ++broken;
            }
        }
        std::printf("%d of %d captions drawn with their glyphs\n", looked - broken, looked);
        return broken == 0 && looked > 0 ? 0 : 1;
    }
    if (op == "blocks") {
        HWND dialog = nullptr;
        if (!wait_for([&] { return (dialog = FindWindowW(torvela_win32::block_form_class, nullptr)) != nullptr &&
                                   IsWindowVisible(dialog); },
                      30s))
            return 1;
        // Painted now, by its own thread, before its pixels are read.
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        DWORD_PTR unused = 0;
        SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &unused);
        int looked = 0, broken = 0;
        for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t cls[64];
            GetClassNameW(c, cls, 64);
            if (std::wstring(cls) != L"Button" || !IsWindowVisible(c)) continue;
            const auto style = GetWindowLongPtrW(c, GWL_STYLE) & BS_TYPEMASK;
            const auto kind = style == BS_AUTOCHECKBOX ? torvela::control_kind::check : torvela::control_kind::button;
            ++looked;
            if (const std::string why = not_whole(c, kind, true); !why.empty()) {
                std::printf("block dialog control %d: %s\n", GetDlgCtrlID(c), why.c_str());
                ++broken;
            }
        }
        std::printf("%d of %d controls drawn whole\n", looked - broken, looked);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        return broken == 0 && looked > 0 ? 0 : 1;
    }
    if (op == "tip") {
        HWND tip = shown_tip();
        if (!tip) return 1;
        std::printf("%s\n", text_of(tip).c_str());
        return 0;
    }
    if (op == "title") {
        HWND w = main_window();
        if (!w) return 1;
        std::printf("%s\n", text_of(w).c_str());
        return 0;
    }
    if (op == "close") {
        HWND w = main_window();
        if (!w) return 1;
        PostMessageW(w, WM_CLOSE, 0, 0);
        return 0;
    }
    if (op == "shot" && (argc == 3 || argc == 4)) {
        HWND w = argc == 4 ? GetDesktopWindow() : main_window();
        if (!w) return 1;
        RECT r;
        GetWindowRect(w, &r);
        const std::vector<std::uint32_t> px = grab(r);
        std::FILE* out = std::fopen(argv[2], "wb");
        if (!out) return 1;
        std::fprintf(out, "P6\n%ld %ld\n255\n", r.right - r.left, r.bottom - r.top);
        for (const std::uint32_t p : px) {
            const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                          static_cast<unsigned char>(p)};
            std::fwrite(rgb, 1, 3, out);
        }
        std::fclose(out);
        return 0;
    }
    if (op == "answer" && argc == 3) {
        const std::string a = argv[2];
        const int button = a == "yes" ? IDYES : a == "no" ? IDNO : IDOK;
        HWND box = nullptr;
        if (!wait_for([&] { return (box = message_box()) != nullptr; }, 30s)) return 1;
        HWND b = GetDlgItem(box, button);
        if (!b) return 1;
        SendMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(b));
        return 0;
    }
    if (argc < 3) return 2;
    const std::string name = argv[2];
    if (op == "wait-text" && argc >= 4) {
        const std::string want = argv[3];
        const int seconds = argc >= 5 ? std::atoi(argv[4]) : 60;
        std::string last;
        const bool seen = wait_for(
            [&] {
                HWND c = control(name);
                last = c ? text_of(c) : std::string();
                return last == want;
            },
            std::chrono::seconds(seconds));
        std::printf("%s\n", last.c_str());
        return seen ? 0 : 1;
    }
    HWND c = control(name);
    if (!c) return 1;
    if (op == "boxes") {
        std::printf("%d\n", drawn_as_boxes(c, torvela_win32::wide(text_of(c))));
    } else if (op == "face") {
        LOGFONTW lf{};
        if (!control_font(c, lf)) return 1;
        std::printf("%s\n", torvela_win32::utf8(lf.lfFaceName).c_str());
    } else if (op == "text") {
        std::printf("%s\n", text_of(c).c_str());
    } else if (op == "lines") {
        // A list box's lines, one a line.
        const LRESULT count = SendMessageW(c, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring line(static_cast<std::size_t>(SendMessageW(c, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0)) + 1, L'\0');
            line.resize(static_cast<std::size_t>(
                SendMessageW(c, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()))));
            std::printf("%s\n", torvela_win32::utf8(line).c_str());
        }
    } else if (op == "visible") {
        std::printf("%d\n", IsWindowVisible(c) ? 1 : 0);
    } else if (op == "point") {
        // A combo box is clicked in its edit field.
        wchar_t cls[64];
        GetClassNameW(c, cls, 64);
        if (std::wstring(cls) == L"ComboBox")
            if (HWND edit = GetWindow(c, GW_CHILD)) c = edit;
        RECT r;
        GetWindowRect(c, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    } else {
        return 2;
    }
    return 0;
}
