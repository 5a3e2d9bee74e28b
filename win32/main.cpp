// The TORVELA window on Windows.
#include "window.hpp"

#include <shellapi.h>

#include <string_view>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    bool version = false, help = false;
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i) {
            const std::wstring_view a(argv[i]);
            version = version || a == L"--version" || a == L"-V";
            help = help || a == L"--help" || a == L"-h";
        }
        LocalFree(argv);
    }
    // --version and --help answer in a box: the program has no console.
    if (version) {
        MessageBoxW(nullptr, torvela_win32::wide(std::string("torvela ") + TORVELA_VERSION).c_str(), L"TORVELA",
                    MB_OK);
        return 0;
    }
    if (help) {
        MessageBoxW(nullptr, torvela_win32::wide(std::string("torvela [--help] [--version]\n\n") + torvela::window_help).c_str(),
                    L"TORVELA", MB_OK);
        return 0;
    }
    // Sharp at 125-150 %: the window sizes itself for each monitor's DPI.
    using set_context = BOOL(WINAPI*)(HANDLE);
    if (const auto set = reinterpret_cast<set_context>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"))))
        set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
    else
        SetProcessDPIAware();
    torvela_win32::main_window w;
    if (!w.create(instance)) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (w.pre_translate(msg)) continue;
        if (IsDialogMessageW(w.hwnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
