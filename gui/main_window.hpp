// The TORVELA window: it mirrors the core's control model and has no logic
// of its own. Every click, text change and timer tick goes to the core's
// handler; the widgets are refreshed from the model afterwards.
#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "console/main_form.hpp"
#include "qt_platform.hpp"
#include "rom_data/seq_files.hpp"

namespace torvela_gui {

class main_window final : public QWidget {
    Q_OBJECT
public:
    main_window();
    ~main_window() override;

    torvela::main_form& form() { return *form_; }
    qt_serial_port& serial() { return serial_; }
    QWidget* widget(const QString& name) const;
    bool service_view() const { return service_view_; }
    void set_service_view(bool on);
    // Status line texts in the order they appeared.
    std::vector<QString> status_history;
    // Timer3 ticks so far (the spinner's steps).
    int spinner_steps = 0;
    // Called after the first paint (startup measurement).
    std::function<void()> on_first_paint;

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
    void run(void (*handler)(torvela::main_form&));
    void sync(binding& b);
    void update_trace();

    torvela::std_seq_files files_;
    qt_serial_port serial_;
    qt_message_box box_;
    qt_dialogs dialogs_;
    std::unique_ptr<torvela::main_form> form_;
    std::vector<binding> bindings_;
    QTimer timer1_, timer2_, timer3_;
    QPlainTextEdit* trace_ = nullptr;
    bool service_view_ = false;
    bool syncing_ = false;
    bool painted_ = false;
    bool trace_dirty_ = false;
    std::string last_status_;
    static constexpr int idle_engine_interval = 100;
};

}  // namespace torvela_gui
