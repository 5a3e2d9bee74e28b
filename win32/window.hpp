// The TORVELA window on Windows: native controls drawn from the core's
// control table by the core's front-end driver.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/main_form.hpp"
#include "form_services.hpp"
#include "dialogs.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"
#include "text.hpp"

#include <commctrl.h>
#include "window/driver.hpp"

namespace torvela_win32 {

class main_window {
public:
    main_window();
    ~main_window();
    main_window(const main_window&) = delete;
    main_window& operator=(const main_window&) = delete;

    bool create(HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }
    // Keys the window takes before the focused control (Ctrl+Shift+F12).
    bool pre_translate(const MSG& msg);

private:
    struct widget {
        torvela::control* c;
        HWND w;
        int id;
    };
    // The engine's multimedia timer posts a tick; one waits at a time.
    struct timer_slot {
        HWND window = nullptr;
        UINT id = 0;
        std::atomic<bool> pending{false};
        std::atomic<DWORD> posted_at{0};
    };

    static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
    static void CALLBACK timer_callback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void command(int id, int code);
    void build();
    void set_service_view(bool on);
    void set_fonts(double scale);
    void fit_caption(const widget& b, const std::wstring& caption);
    TOOLINFOW status_tool() const;
    void draw(const torvela::control_change& change);
    void refresh();
    void show_trace(const torvela::trace_feed::update& u);
    void save_trace();
    // KEPT UNITS: the folder of the kept units, in the system's file window.
    void open_kept_units();
    void start_timer();
    void stop_timer();
    void on_tick();
    void unload();
    widget* find(int id);
    const widget* find(const torvela::control* c) const;
    // Milliseconds on the performance counter since the window was made.
    std::int64_t now() const;

    static main_window* self_;
    HWND hwnd_ = nullptr;
    // The window's fonts, made for the scale they are at; font_ is the
    // window's face at its size (the service view's lists and lines).
    std::unique_ptr<face_fonts> fonts_;
    HFONT font_ = nullptr;
    torvela::form_services services_;
    win32_box box_;
    win32_dialogs dialogs_;
    std::unique_ptr<torvela::main_form> form_;
    std::unique_ptr<torvela::front_driver> driver_;
    std::vector<widget> widgets_;
    HWND trace_ = nullptr, progress_ = nullptr, save_trace_ = nullptr, tip_ = nullptr, jobs_ = nullptr,
         kept_units_ = nullptr, detail_ = nullptr;
    timer_slot slot_;
    LARGE_INTEGER started_{}, frequency_{};
    // Design pixels to the window's: the monitor's DPI, less where the
    // service view would not fit the work area.
    double scale_ = 0;
    int px(int v) const { return static_cast<int>(v * scale_ + 0.5); }
};

}  // namespace torvela_win32
