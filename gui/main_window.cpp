#include "main_window.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include "pictures.hpp"
#include "window/front.hpp"

namespace torvela_gui {

namespace {

using torvela::control_event;
constexpr int client_w = torvela::client_width, client_h = torvela::client_height;

}  // namespace

main_window::main_window() : box_(this), dialogs_(this) {
    setObjectName("main_form");
    setWindowTitle("TORVELA");
    clock_.start();
    form_ = std::make_unique<torvela::main_form>(serial_, box_, dialogs_, files_);
    build();
    torvela::Form_Load(*form_);
    // The three timers on one clock, as every front end drives them: one
    // precise single-shot timer wakes when the next is due.
    timers_ = std::make_unique<torvela::timer_driver>(*form_, serial_.tick,
                                                      torvela::timer_driver::offered::by_one_timer);
    pump_.setTimerType(Qt::PreciseTimer);
    pump_.setSingleShot(true);
    connect(&pump_, &QTimer::timeout, this, [this] { on_tick(); });
    timers_->start(clock_.elapsed());
    schedule();
    auto* toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), this);
    connect(toggle, &QShortcut::activated, this, [this] { set_service_view(!service_view_); });
    set_service_view(false);
    refresh();
}

main_window::~main_window() { unload(); }

void main_window::closeEvent(QCloseEvent* e) {
    unload();
    e->accept();
}

// The form is unloaded once, when the window closes or, without a close,
// when it goes.
void main_window::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    torvela::Form_Unload(*form_);
}

void main_window::build() {
    for (torvela::control* c : form_->controls) {
        const QString name = QString::fromStdString(c->name);
        QWidget* w = nullptr;
        const std::string n = c->name;
        switch (c->kind) {
        case torvela::control_kind::label: {
            auto* l = new QLabel(this);
            l->setWordWrap(false);
            w = l;
            break;
        }
        case torvela::control_kind::button: {
            auto* b = new QPushButton(this);
            connect(b, &QPushButton::clicked, this, [this, c] {
                if (!syncing_) fire(*c, control_event::click);
            });
            w = b;
            break;
        }
        case torvela::control_kind::combo: {
            auto* cb = new QComboBox(this);
            cb->setEditable(true);
            cb->setInsertPolicy(QComboBox::NoInsert);
            connect(cb, &QComboBox::textActivated, this, [this, c](const QString& text) {
                if (syncing_) return;
                c->caption = text.toStdString();
                fire(*c, control_event::click);
            });
            connect(cb, &QComboBox::editTextChanged, this, [this, c](const QString& text) {
                if (syncing_) return;
                c->caption = text.toStdString();
                fire(*c, control_event::change);
            });
            w = cb;
            break;
        }
        case torvela::control_kind::check: {
            auto* cb = new QCheckBox(this);
            connect(cb, &QCheckBox::clicked, this, [this, c](bool on) {
                if (syncing_) return;
                c->value = on ? 1 : 0;
                fire(*c, control_event::click);
            });
            w = cb;
            break;
        }
        case torvela::control_kind::option: {
            auto* rb = new QRadioButton(this);
            connect(rb, &QRadioButton::clicked, this, [this, c](bool on) {
                if (syncing_) return;
                c->value = on ? 1 : 0;
                fire(*c, control_event::click);
            });
            w = rb;
            break;
        }
        case torvela::control_kind::text: {
            auto* e = new QLineEdit(this);
            connect(e, &QLineEdit::textEdited, this, [c](const QString& text) { c->caption = text.toStdString(); });
            w = e;
            break;
        }
        case torvela::control_kind::image: {
            w = new picture(QString::fromStdString(n).mid(5).toInt(), this);
            break;
        }
        case torvela::control_kind::timer:
            continue;
        }
        w->setObjectName(name);
        binding b{};
        b.c = c;
        b.w = w;
        bindings_.push_back(b);
    }
    trace_ = new QPlainTextEdit(this);
    trace_->setObjectName("trace");
    trace_->setReadOnly(true);
    trace_->setMaximumBlockCount(torvela::trace_view_lines);
    trace_->setLineWrapMode(QPlainTextEdit::NoWrap);  // a page's hex is not wrapped again on every append
    trace_->setFont(QFont("Monospace", 8));
    trace_->setGeometry(client_w + 8, 8, torvela::trace_width - 16, torvela::service_height - 16);
    progress_ = new QLabel(this);
    progress_->setObjectName("progress");
    progress_->setGeometry(8, torvela::service_row_top, 360, torvela::service_button_height);
    auto* save = new QPushButton("SAVE TRACE", this);
    save->setObjectName("save_trace");
    save->setGeometry(torvela::save_trace_left, torvela::service_row_top, torvela::service_button_width,
                      torvela::service_button_height);
    connect(save, &QPushButton::clicked, this, [this] {
        const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString path = QFileDialog::getSaveFileName(this, "SAVE TRACE", docs + "/torvela-trace.txt",
                                                          "TEXT (*.txt)");
        // A trace that did not reach its file says so: the engineer keeps
        // it for a reason.
        if (!path.isEmpty() && !save_trace(path))
            QMessageBox::warning(this, "SAVE TRACE",
                                 path + " could not be written (a full disk, or a folder you may not write to); "
                                        "the trace is still here: choose another file.");
    });
    save_trace_ = save;
}

QString main_window::trace_text(std::size_t last) const {
    QStringList lines;
    const auto& trace = serial_.recent();
    for (auto it = trace.size() > last ? trace.end() - static_cast<std::ptrdiff_t>(last) : trace.begin();
         it != trace.end(); ++it)
        lines << QString::fromStdString(torvela::format_trace_line(*it));
    return lines.join('\n');
}

bool main_window::save_trace(const QString& path) const {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const std::string text = serial_.document(TORVELA_VERSION, form_->memory_file_path);
    // Written through to the device: a full disk fails here, not later.
    const bool written = out.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
    const bool flushed = out.flush();
    out.close();
    return written && flushed && out.error() == QFileDevice::NoError;
}

QString main_window::progress_text() const { return QString::fromStdString(progress_line_.text()); }

void main_window::update_progress() {
    // Each pass is timed from its start, whether the figures are shown or not.
    progress_line_.update(*form_, clock_.elapsed());
    const QString title = QString::fromStdString(torvela::window_title(*form_, progress_line_));
    if (windowTitle() != title) setWindowTitle(title);
    if (!service_view_) return;
    const QString text = progress_text();
    if (progress_->text() != text) progress_->setText(text);
}

QWidget* main_window::widget(const QString& name) const {
    for (const binding& b : bindings_)
        if (b.w->objectName() == name) return b.w;
    return findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

void main_window::set_service_view(bool on) {
    service_view_ = on;
    if (on)
        setFixedSize(client_w + torvela::trace_width, torvela::service_height);
    else
        setFixedSize(client_w, client_h);
    trace_->setVisible(on);
    progress_->setVisible(on);
    save_trace_->setVisible(on);
    if (on) {
        trace_feed_.restart();
        update_trace();
    }
    for (binding& b : bindings_) {
        b.shown = -1;
        place(b);
    }
    refresh();
}

void main_window::fire(torvela::control& c, torvela::control_event e) {
    torvela::fire(*form_, c, e);
    timers_->after_event(clock_.elapsed());
    refresh();
    schedule();  // an opened port makes the engine due sooner
}

void main_window::on_tick() {
    const qint64 now = clock_.elapsed();
    bool ran = false;
    for (int i = 0; i < torvela::timer_driver::timers; ++i) {
        if (!timers_->offer(i, now)) continue;
        ran = true;
        if (i == 2) ++spinner_steps;
    }
    if (ran) refresh();
    schedule();
}

void main_window::schedule() {
    pump_.start(static_cast<int>(std::max<qint64>(0, timers_->next_due() - clock_.elapsed())));
}

void main_window::place(binding& b) {
    const torvela::rect r = torvela::place(*b.c, service_view_);
    b.w->setGeometry(r.x, r.y, r.width, r.height);
}

void main_window::sync(binding& b) {
    torvela::control& c = *b.c;
    const int shown = torvela::shown(c, service_view_) ? 1 : 0;
    if (shown != b.shown) {
        b.w->setVisible(shown == 1);
        b.shown = shown;
    }
    if (c.enabled != (b.enabled == 1)) {
        b.w->setEnabled(c.enabled);
        b.enabled = c.enabled ? 1 : 0;
    }
    switch (c.kind) {
    case torvela::control_kind::label:
        if (b.caption != c.caption) static_cast<QLabel*>(b.w)->setText(QString::fromStdString(c.caption));
        break;
    case torvela::control_kind::button:
        if (b.caption != c.caption) static_cast<QPushButton*>(b.w)->setText(QString::fromStdString(c.caption));
        break;
    case torvela::control_kind::combo: {
        auto* cb = static_cast<QComboBox*>(b.w);
        bool refilled = false;
        if (b.items != c.items.size()) {
            cb->clear();
            for (const std::string& item : c.items) cb->addItem(QString::fromStdString(item));
            b.items = c.items.size();
            refilled = true;  // the text was replaced: set it again
        }
        // Only a text that differs from what the box shows is set: setting it
        // while the operator types would move the cursor to the end.
        const QString text = QString::fromStdString(c.caption);
        if (refilled || cb->currentText() != text) cb->setEditText(text);
        break;
    }
    case torvela::control_kind::check:
        if (b.value != c.value) static_cast<QCheckBox*>(b.w)->setChecked(c.value == 1);
        if (b.caption != c.caption) static_cast<QCheckBox*>(b.w)->setText(QString::fromStdString(c.caption));
        break;
    case torvela::control_kind::option:
        if (b.value != c.value) static_cast<QRadioButton*>(b.w)->setChecked(c.value == 1);
        if (b.caption != c.caption) static_cast<QRadioButton*>(b.w)->setText(QString::fromStdString(c.caption));
        break;
    case torvela::control_kind::text:
        if (b.caption != c.caption) static_cast<QLineEdit*>(b.w)->setText(QString::fromStdString(c.caption));
        break;
    case torvela::control_kind::image:
    case torvela::control_kind::timer:
        break;
    }
    b.caption = c.caption;
    b.value = c.value;
}

void main_window::refresh() {
    syncing_ = true;
    for (binding& b : bindings_) sync(b);
    syncing_ = false;
    if (status_history.empty() || last_status_ != form_->Label9.caption) {
        last_status_ = form_->Label9.caption;
        status_history.push_back(QString::fromStdString(last_status_));
    }
    // The status text stays as it is; the reason behind a port that would
    // not open is on it as a tooltip, for an operator who never sees the
    // trace.
    const QString why = QString::fromStdString(torvela::status_reason(*form_));
    if (status_tip_ != why) {
        status_tip_ = why;
        widget("Label9")->setToolTip(why);
    }
    if (service_view_) update_trace();
    update_progress();
}

void main_window::update_trace() {
    // Only the new lines, a few times a second: the view costs the job
    // nothing however fast the frames go.
    const torvela::trace_feed::update u = trace_feed_.take(serial_, clock_.elapsed());
    if (u.text.empty()) return;
    QString text = QString::fromStdString(u.text);
    text.replace("\r\n", "\n");
    text.chop(1);
    if (u.replace)
        trace_->setPlainText(text);
    else
        trace_->appendPlainText(text);
    trace_->moveCursor(QTextCursor::End);
}

void main_window::paintEvent(QPaintEvent* e) {
    QWidget::paintEvent(e);
    if (!painted_) {
        painted_ = true;
        if (on_first_paint) QTimer::singleShot(0, this, [this] { on_first_paint(); });
    }
}

}  // namespace torvela_gui
