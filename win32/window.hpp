// The TORVELA window on Windows: native controls mirroring the core's
// control model.
#pragma once


#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/main_form.hpp"
#include "device_port.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"
#include "text.hpp"
#include "window/front.hpp"

namespace torvela_win32 {

class win32_box final : public torvela::message_box {
public:
    bool yes_no(std::string_view prompt, std::string_view title) override;
    void inform(std::string_view text, std::string_view title) override;
    HWND owner = nullptr;
    std::deque<std::pair<std::wstring, std::wstring>> pending;
};

class win32_dialogs final : public torvela::dialogs {
public:
    win32_dialogs();
    std::string open_file(std::string_view filter) override;
    void show_block_form(torvela::main_form& f, torvela::block_form& dlg) override;
    HWND owner = nullptr;
    HFONT font = nullptr;

private:
    std::wstring folder_;
};

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
    struct binding {
        torvela::control* c;
        HWND w;
        int id;
        // What the control shows now, to touch it only on change.
        std::string caption = "\x01";
        int value = -1;
        int shown = -1;
        int enabled = -1;
        std::size_t items = static_cast<std::size_t>(-1);
        torvela::rect at{-1, -1, 0, 0};
    };
    struct timer_slot {
        HWND window = nullptr;
        int index = 0;
        UINT id = 0;
        std::atomic<bool> pending{false};
        std::atomic<DWORD> posted_at{0};
    };

    static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
    static void CALLBACK timer_callback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void build();
    void set_service_view(bool on);
    void fire(torvela::control& c, torvela::control_event e);
    void sync(binding& b);
    void refresh();
    void update_trace();
    void save_trace();
    bool write_trace(const std::wstring& path) const;
    void start_timers();
    void stop_timers();
    void on_tick(int index);
    void unload();
    binding* find(int id);

    static main_window* self_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    torvela::std_seq_files files_;
    torvela::device_port device_;
    torvela::traced_port serial_{device_};
    win32_box box_;
    win32_dialogs dialogs_;
    std::unique_ptr<torvela::main_form> form_;
    std::vector<binding> bindings_;
    HWND trace_ = nullptr, progress_ = nullptr, save_trace_ = nullptr;
    timer_slot slots_[3];
    std::unique_ptr<torvela::timer_driver> clock_;
    torvela::progress_line progress_line_;
    unsigned long long clock_start_ = 0;
    std::wstring title_, progress_text_;
    bool service_view_ = false;
    // Design pixels to the window's: the monitor's DPI, less where the
    // service view would not fit the work area.
    double scale_ = 0;
    int px(int v) const { return static_cast<int>(v * scale_ + 0.5); }
    bool syncing_ = false;
    torvela::trace_feed trace_feed_;
    bool unloaded_ = false;
};

}  // namespace torvela_win32
