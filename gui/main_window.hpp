// The TORVELA window: it draws the core's controls and has no logic of its
// own. Every click, text change and timer tick goes to the core's driver;
// the widgets it says changed are drawn again afterwards.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "console/main_form.hpp"
#include "qt_dialogs.hpp"
#include "form_services.hpp"
#include "link/trace.hpp"
#include "platform/seq_files.hpp"
#include "window/driver.hpp"

namespace torvela_gui {

class main_window final : public QWidget {
    Q_OBJECT
public:
    main_window();
    ~main_window() override;

    torvela::main_form& form() { return *form_; }
    torvela::traced_port& serial() { return services_.serial; }
    QWidget* widget(const QString& name) const;
    bool service_view() const { return driver_->service_view(); }
    void set_service_view(bool on);
    // Status line texts in the order they appeared.
    std::vector<QString> status_history() const;
    // Timer3 ticks so far (the busy pictures' steps).
    std::uint64_t spinner_steps() const { return driver_->ticks_run(2); }
    // Called after the first paint (startup measurement).
    std::function<void()> on_first_paint;
    // The trace as text, one frame or note a line (the last `lines`, or all
    // that is kept); the view shows the last 200, a saved file holds all.
    QString trace_text(std::size_t lines = SIZE_MAX) const;
    bool save_trace(const QString& path) const;
    // The progress line of the pass under way.
    QString progress_text() const;
    // The design's pixels to the window's: 1 where the design fits the
    // screen's free area, less where it does not (the service view on a
    // laptop's 1366x768, or at a desktop scale of 150 %).
    double scale() const { return scale_; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void build();
    QWidget* make(torvela::control& c);
    void refresh();
    void draw(const torvela::control_change& change);
    // An act of the operator forwarded (`act` takes the moment), then the
    // window drawn again.
    template <class Act>
    void acted(Act act);
    void on_tick();
    void schedule();
    void show_trace(const torvela::trace_feed::update& u);
    QRect placed(const torvela::rect& r) const;
    void fit(const torvela::rect& area);

    torvela::form_services services_;
    qt_message_box box_;
    qt_dialogs dialogs_;
    std::unique_ptr<torvela::main_form> form_;
    std::unique_ptr<torvela::front_driver> driver_;
    std::map<const torvela::control*, QWidget*> widgets_;
    QTimer pump_;
    QPlainTextEdit* trace_ = nullptr;
    QLabel* progress_ = nullptr;
    // A failure's detail under the status line, in both views.
    QPlainTextEdit* detail_ = nullptr;
    QWidget* save_trace_ = nullptr;
    QListWidget* jobs_ = nullptr;
    QWidget* kept_units_ = nullptr;
    QElapsedTimer clock_;
    bool painted_ = false;
    double scale_ = 1.0;
    QFont design_font_, trace_font_;
};

}  // namespace torvela_gui
