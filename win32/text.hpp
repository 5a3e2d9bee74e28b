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

// ---- the window's faces, chosen by what they draw ---------------------------
// A face is asked for by name and drawn as it is: Wine links no other face
// in for the characters it lacks, which then come out as boxes (Droid Sans
// Fallback, the face the Japanese character set brings on many machines,
// has no Latin letters). So a face is taken for a text only when it has a
// glyph of its own for every character of it.
struct installed_face {
    std::wstring name;
    BYTE charset = DEFAULT_CHARSET;  // SHIFTJIS_CHARSET where the face offers it
};

inline HFONT face_font(const installed_face& face, int height) {
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, face.charset, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face.name.c_str());
}

// How many characters of `text` the face has no glyph for (blanks and
// control characters aside).
inline int glyphs_missing(const installed_face& face, std::wstring_view text) {
    std::wstring shown;
    for (const wchar_t ch : text)
        if (ch > L' ' && ch != 0x7F && ch != 0x3000) shown.push_back(ch);
    if (shown.empty()) return 0;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HFONT font = face_font(face, -16);
    const HGDIOBJ was = SelectObject(dc, font);
    std::vector<WORD> glyphs(shown.size());
    const DWORD n = GetGlyphIndicesW(dc, shown.c_str(), static_cast<int>(shown.size()), glyphs.data(),
                                     GGI_MARK_NONEXISTING_GLYPHS);
    // The face that was made must be the face asked for.
    wchar_t made[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, made);
    SelectObject(dc, was);
    DeleteObject(font);
    DeleteDC(dc);
    if (n == GDI_ERROR || face.name != made) return static_cast<int>(shown.size());
    return static_cast<int>(std::count(glyphs.begin(), glyphs.end(), static_cast<WORD>(0xFFFF)));
}

// The installed faces in the order they are tried: the usual Japanese UI
// faces, then the other faces with the Japanese character set (a CJK
// family's JP member first), then the rest; vertical (@) faces never.
inline const std::vector<installed_face>& faces_to_try() {
    static const std::vector<installed_face> faces = [] {
        std::vector<installed_face> all;
        LOGFONTW want{};
        want.lfCharSet = DEFAULT_CHARSET;
        const HDC dc = GetDC(nullptr);
        EnumFontFamiliesExW(
            dc, &want,
            [](const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM to) -> int {
                auto& list = *reinterpret_cast<std::vector<installed_face>*>(to);
                if (lf->lfFaceName[0] == L'@') return 1;
                const auto it = std::find_if(list.begin(), list.end(),
                                             [&](const installed_face& f) { return f.name == lf->lfFaceName; });
                if (it == list.end())
                    list.push_back({lf->lfFaceName, lf->lfCharSet == SHIFTJIS_CHARSET ? BYTE{SHIFTJIS_CHARSET}
                                                                                     : BYTE{DEFAULT_CHARSET}});
                else if (lf->lfCharSet == SHIFTJIS_CHARSET)
                    it->charset = SHIFTJIS_CHARSET;
                return 1;
            },
            reinterpret_cast<LPARAM>(&all), 0);
        ReleaseDC(nullptr, dc);
        auto rank = [](const installed_face& f) {
            static const wchar_t* const preferred[] = {L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic", L"Meiryo",
                                                       L"MS Gothic"};
            for (int i = 0; i < 5; ++i)
                if (f.name == preferred[i]) return i;
            // A CJK family's Japanese member draws the Japanese forms.
            if (f.charset == SHIFTJIS_CHARSET) return f.name.find(L" JP") != std::wstring::npos ? 5 : 6;
            return 7;
        };
        std::stable_sort(all.begin(), all.end(),
                         [&](const installed_face& a, const installed_face& b) { return rank(a) < rank(b); });
        return all;
    }();
    return faces;
}

// The first face to try that draws every character of `text`; where none
// does, the one that draws the most of it.
inline installed_face face_drawing(std::wstring_view text) {
    const std::vector<installed_face>& faces = faces_to_try();
    if (faces.empty()) return {L"MS UI Gothic", SHIFTJIS_CHARSET};
    const installed_face* best = &faces.front();
    int fewest = -1;
    for (const installed_face& f : faces) {
        const int missing = glyphs_missing(f, text);
        if (missing == 0) return f;
        if (fewest < 0 || missing < fewest) best = &f, fewest = missing;
    }
    return *best;
}

// Every text the main window and its block dialog may show, for the face
// that must draw them.
std::wstring window_texts();

// The fonts of one window: the face that draws every text the window may
// show, and for a caption it does not draw (no installed face draws them
// all) a face that draws that caption. By face and height, made once.
class face_fonts {
public:
    explicit face_fonts(std::wstring_view every_text) : face_(face_drawing(every_text)) {}
    face_fonts(const face_fonts&) = delete;
    face_fonts& operator=(const face_fonts&) = delete;
    ~face_fonts() { clear(); }
    const installed_face& face() const { return face_; }
    HFONT font_for(std::wstring_view caption, int height) {
        const installed_face face = glyphs_missing(face_, caption) == 0 ? face_ : face_drawing(caption);
        for (const made& m : made_)
            if (m.face == face.name && m.height == height) return m.font;
        made_.push_back({face.name, height, face_font(face, -height)});
        return made_.back().font;
    }
    // The fonts made so far go (at a new scale, once nothing uses them).
    void clear() {
        for (const made& m : made_) DeleteObject(m.font);
        made_.clear();
    }

private:
    struct made {
        std::wstring face;
        int height;
        HFONT font;
    };
    installed_face face_;
    std::vector<made> made_;
};

// A control's font, and the face it is of as a property of the control
// ("face|charset", a global atom) that a reader of the window in another
// process can see: GDI fonts do not cross processes.
inline constexpr wchar_t face_property[] = L"torvela.face";
inline void set_font(HWND w, HFONT font) {
    if (reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)) != font)
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    LOGFONTW lf{};
    if (GetObjectW(font, sizeof lf, &lf) != sizeof lf) return;
    const std::wstring said = std::wstring(lf.lfFaceName) + L"|" + std::to_wstring(lf.lfCharSet);
    ATOM atom = GlobalFindAtomW(said.c_str());
    if (!atom) atom = GlobalAddAtomW(said.c_str());
    SetPropW(w, face_property, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
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
inline constexpr int trace_id = 50, progress_id = 51, save_trace_id = 52, jobs_id = 53, kept_units_id = 54,
                     detail_id = 55;
struct service_control {
    const char* name;
    int id;
};
inline constexpr service_control service_controls[] = {
    {"trace", trace_id},           {"progress", progress_id}, {"save_trace", save_trace_id},
    {"jobs", jobs_id},             {"kept_units", kept_units_id}, {"detail", detail_id}};

}  // namespace torvela_win32
