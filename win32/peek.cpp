// A small reader of the TORVELA window for the tests under Wine: finds the
// window and reads or answers what an operator would see.
//   torvela-peek wait                      the window is shown and takes input
//   torvela-peek text NAME                 the text a control shows
//   torvela-peek visible NAME              1 when shown, else 0
//   torvela-peek point NAME                the control's centre on the screen, "x y"
//   torvela-peek title                     the window's title
//   torvela-peek wait-text NAME TEXT [S]   until the control shows TEXT (S seconds, default 60)
//   torvela-peek answer yes|no|ok          clicks the button of the message box that is open
//   torvela-peek close                     asks the window to close, as its close box does
//   torvela-peek shot FILE [screen]        the window (or the screen) as a picture (binary PPM)
//   torvela-peek boxes NAME                how many characters of the control's text the
//                                          window's font draws as the box of a missing glyph
// Exit status 0 when done, 1 when the window or the control is not there
// (or the wait ran out), 2 for a usage error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/main_form.hpp"
#include "text.hpp"

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
int drawn_as_boxes(const std::wstring& text) {
    const int size = 64;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old_bmp = SelectObject(mem, bmp);
    HFONT font = torvela_win32::japanese_ui_font(-32);
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
        if (ch > 0x7F && cell(ch) == box) ++boxes;
    SelectObject(mem, old_font);
    DeleteObject(font);
    SelectObject(mem, old_bmp);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return boxes;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string op = argv[1];
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
        const int width = r.right - r.left, height = r.bottom - r.top;
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
        std::FILE* out = std::fopen(argv[2], "wb");
        if (!out) return 1;
        std::fprintf(out, "P6\n%d %d\n255\n", width, height);
        const auto* px = static_cast<const unsigned char*>(bits);
        for (int i = 0; i < width * height; ++i) {
            const unsigned char rgb[3] = {px[4 * i + 2], px[4 * i + 1], px[4 * i]};
            std::fwrite(rgb, 1, 3, out);
        }
        std::fclose(out);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
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
        std::printf("%d\n", drawn_as_boxes(torvela_win32::wide(text_of(c))));
    } else if (op == "text") {
        std::printf("%s\n", text_of(c).c_str());
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
