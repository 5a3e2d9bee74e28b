// UTF-8 inside, UTF-16 at the Windows calls; the window's class and its
// controls' IDs.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <string_view>

namespace torvela_win32 {

inline std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

inline std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The main window's class name, for a program that looks for the window.
inline constexpr const wchar_t* window_class = L"torvela_main";
// Control IDs: the control table's controls in order from here; the service
// view's own controls, named as in the Qt window.
inline constexpr int first_control_id = 1000;
inline constexpr int trace_id = 50, progress_id = 51, save_trace_id = 52;
struct service_control {
    const char* name;
    int id;
};
inline constexpr service_control service_controls[] = {
    {"trace", trace_id}, {"progress", progress_id}, {"save_trace", save_trace_id}};

}  // namespace torvela_win32
