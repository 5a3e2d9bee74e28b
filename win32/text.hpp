// UTF-8 inside, UTF-16 at the Windows calls; the window's class and its
// controls' IDs.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

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

// A face that has the Japanese glyphs, asked for with the Japanese character
// set: the first installed of the usual Japanese UI faces, else any face the
// system has for that set (under Wine: the host's CJK fonts). A face asked
// for without the set is replaced, where it is missing (a fresh Wine prefix,
// Windows without the optional Japanese fonts), by one without the glyphs.
inline HFONT japanese_ui_font(int height) {
    std::vector<std::wstring> faces;
    LOGFONTW want{};
    want.lfCharSet = SHIFTJIS_CHARSET;
    const HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(
        dc, &want,
        [](const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM to) -> int {
            if (lf->lfFaceName[0] != L'@') reinterpret_cast<std::vector<std::wstring>*>(to)->push_back(lf->lfFaceName);
            return 1;
        },
        reinterpret_cast<LPARAM>(&faces), 0);
    ReleaseDC(nullptr, dc);
    std::wstring face = faces.empty() ? L"MS UI Gothic" : faces.front();
    for (const wchar_t* preferred : {L"MS Gothic", L"Meiryo", L"MS UI Gothic", L"Meiryo UI", L"Yu Gothic UI"})
        if (std::find(faces.begin(), faces.end(), preferred) != faces.end()) face = preferred;
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face.c_str());
}

// The monitor's pixels per 96 (the design's), read where the system says.
inline double dpi_scale(HWND w) {
    using get_dpi = UINT(WINAPI*)(HWND);
    static const auto for_window = reinterpret_cast<get_dpi>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = for_window ? for_window(w) : 96;
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

// The block dialog's window class.
inline constexpr wchar_t block_form_class[] = L"torvela_block_form";

// The main window's class name, for a program that looks for the window.
inline constexpr const wchar_t* window_class = L"torvela_main";
// Control IDs: the control table's controls in order from here; the service
// view's own controls, named as in the Qt window.
inline constexpr int first_control_id = 1000;
inline constexpr int trace_id = 50, progress_id = 51, save_trace_id = 52, jobs_id = 53, kept_units_id = 54;
struct service_control {
    const char* name;
    int id;
};
inline constexpr service_control service_controls[] = {
    {"trace", trace_id},           {"progress", progress_id}, {"save_trace", save_trace_id},
    {"jobs", jobs_id},             {"kept_units", kept_units_id}};

}  // namespace torvela_win32
