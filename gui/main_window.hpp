// The TORVELA window: it mirrors the core's control model and has no logic
// of its own. Every click, text change and timer tick goes to the core's
// handler; the widgets are refreshed from the model afterwards.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "console/main_form.hpp"
#include "qt_dialogs.hpp"
#include "device_port.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"
#include "window/front.hpp"

namespace torvela_gui {

class main_window final : public QWidget {
    Q_OBJECT
public:
    main_window();
    ~main_window() override;

    torvela::main_form& form() { return *form_; }
    torvela::traced_port& serial() { return serial_; }
    QWidget* widget(const QString& name) const;
    bool service_view() const { return service_view_; }
    void set_service_view(bool on);
    // Status line texts in the order they appeared.
    std::vector<QString> status_history;
    // Timer3 ticks so far (the spinner's steps).
    int spinner_steps = 0;
    // Called after the first paint (startup measurement).
    std::function<void()> on_first_paint;
    // The trace as text, one frame or note a line (the last `lines`, or all
    // that is kept); the view shows the last 200, a saved file holds all.
    QString trace_text(std::size_t lines = SIZE_MAX) const;
    bool save_trace(const QString& path) const;
    // The progress line of the pass under way.
    QString progress_text() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    struct binding {
        torvela::control* c;
        QWidget* w;
        // What the widget shows now, to touch it only on change.
        std::string caption;
        int value = -1;
        int shown = -1;
        int enabled = -1;
        std::size_t items = 0;
    };
    void build();
    void refresh();
    void fire(torvela::control& c, torvela::control_event e);
    void on_tick();
    void schedule();
    void unload();
    void sync(binding& b);
    void update_trace();
    void update_progress();
    void place(binding& b);

    torvela::std_seq_files files_;
    torvela::device_port device_;
    torvela::traced_port serial_{device_};
    qt_message_box box_;
    qt_dialogs dialogs_;
    std::unique_ptr<torvela::main_form> form_;
    std::vector<binding> bindings_;
    QTimer pump_;
    std::unique_ptr<torvela::timer_driver> timers_;
    QPlainTextEdit* trace_ = nullptr;
    QLabel* progress_ = nullptr;
    QWidget* save_trace_ = nullptr;
    QElapsedTimer clock_;
    torvela::progress_line progress_line_;
    bool unloaded_ = false;
    bool service_view_ = false;
    bool syncing_ = false;
    bool painted_ = false;
    torvela::trace_feed trace_feed_;
    std::string last_status_;
    QString status_tip_;
};

}  // namespace torvela_gui
