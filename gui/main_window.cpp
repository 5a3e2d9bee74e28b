#include "main_window.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <map>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "link/link.hpp"
#include "memories/memories.hpp"
#include "pictures.hpp"
#include "rom_data/image_jobs.hpp"
#include "rom_data/memory_files.hpp"
#include "rom_data/page_exchange.hpp"
#include "service/confirm_commands.hpp"
#include "service/lock_bits.hpp"
#include "service/write_count.hpp"
#include "engine/writer_id.hpp"

namespace torvela_gui {

namespace {

using handler = void (*)(torvela::main_form&);

const std::map<std::string, handler>& click_handlers() {
    static const std::map<std::string, handler> m = {
        {"file_select", torvela::file_select_Click},
        {"allunlock_erase", torvela::allunlock_erase_Click},
        {"ramdata_get", torvela::ramdata_get_Click},
        {"ramdata_store", torvela::ramdata_store_Click},
        {"flashall_write", torvela::flashall_write_Click},
        {"unit_3mode", torvela::unit_3mode_Click},
        {"writer_versionup", torvela::writer_versionup_Click},
        {"flashblock_write", torvela::flashblock_write_Click},
        {"rockbit_non", torvela::rockbit_non_Click},
        {"rockbit_on", torvela::rockbit_on_Click},
        {"block_erase", torvela::block_erase_Click},
        {"verify", torvela::verify_Click},
        {"write_count", torvela::write_count_Click},
        {"command1", torvela::command1_Click},
        {"id_check", torvela::id_check_Click},
        {"rockbit_set", torvela::rockbit_set_Click},
        {"rockbit_read", torvela::rockbit_read_Click},
        {"swon_en", torvela::swon_en_Click},
        {"target_write", torvela::target_write_Click},
        {"write", torvela::write_Click},
        {"Command3", torvela::Command3_Click},
        {"Combo1", torvela::Combo1_Click},
        {"Combo2", torvela::Combo2_Click},
        {"Combo3", torvela::Combo3_Click},
        {"Check10", torvela::Check10_Click},
        {"Option1", torvela::Option1_Click},
        {"Option2", torvela::Option2_Click},
    };
    return m;
}

const std::map<std::string, handler>& change_handlers() {
    static const std::map<std::string, handler> m = {
        {"Combo2", torvela::Combo2_Change},
        {"Combo3", torvela::Combo3_Change},
    };
    return m;
}

handler lookup(const std::map<std::string, handler>& m, const std::string& name) {
    const auto it = m.find(name);
    return it == m.end() ? nullptr : it->second;
}

constexpr int client_w = 7545 / 15, client_h = 3150 / 15;
constexpr int service_h = 12000 / 15, trace_w = 360;
constexpr int trace_view_lines = 200;
// The service view's last row: the progress figures and the trace button.
constexpr int last_row_top = (3240 + 17 * 480) / 15;
// A job button moved into the service rows takes the size of its neighbours.
constexpr int service_button_w = 1740 / 15, service_button_h = 375 / 15;

QString clock(qint64 ms) {
    const qint64 s = ms / 1000;
    return QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
}

}  // namespace

main_window::main_window() : box_(this), dialogs_(this) {
    setObjectName("main_form");
    setWindowTitle("TORVELA");
    form_ = std::make_unique<torvela::main_form>(serial_, box_, dialogs_, files_);
    build();
    torvela::Form_Load(*form_);
    for (QTimer* t : {&timer1_, &timer2_, &timer3_}) t->setTimerType(Qt::PreciseTimer);
    timer1_.setInterval(form_->Timer1.interval);
    timer2_.setInterval(form_->Timer2.interval);
    timer3_.setInterval(form_->Timer3.interval);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        ++serial_.tick;
        run(torvela::Timer1_Timer);
    });
    connect(&timer2_, &QTimer::timeout, this, [this] { run(torvela::Timer2_Timer); });
    connect(&timer3_, &QTimer::timeout, this, [this] {
        ++spinner_steps;
        run(torvela::Timer3_Timer);
    });
    serial_.on_line = [this](const torvela::trace_line&) { trace_dirty_ = true; };
    auto* toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), this);
    connect(toggle, &QShortcut::activated, this, [this] { set_service_view(!service_view_); });
    set_service_view(false);
    refresh();
}

main_window::~main_window() { torvela::Form_Unload(*form_); }

void main_window::closeEvent(QCloseEvent* e) {
    torvela::Form_Unload(*form_);
    e->accept();
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
            connect(b, &QPushButton::clicked, this, [this, n] {
                if (syncing_) return;
                if (handler h = lookup(click_handlers(), n)) run(h);
            });
            w = b;
            break;
        }
        case torvela::control_kind::combo: {
            auto* cb = new QComboBox(this);
            cb->setEditable(true);
            cb->setInsertPolicy(QComboBox::NoInsert);
            connect(cb, &QComboBox::textActivated, this, [this, c, n](const QString& text) {
                if (syncing_) return;
                c->caption = text.toStdString();
                if (handler h = lookup(click_handlers(), n)) run(h);
            });
            connect(cb, &QComboBox::editTextChanged, this, [this, c, n](const QString& text) {
                if (syncing_) return;
                c->caption = text.toStdString();
                if (handler h = lookup(change_handlers(), n)) run(h);
            });
            w = cb;
            break;
        }
        case torvela::control_kind::check: {
            auto* cb = new QCheckBox(this);
            connect(cb, &QCheckBox::clicked, this, [this, c, n](bool on) {
                if (syncing_) return;
                c->value = on ? 1 : 0;
                if (handler h = lookup(click_handlers(), n)) run(h);
                else refresh();
            });
            w = cb;
            break;
        }
        case torvela::control_kind::option: {
            auto* rb = new QRadioButton(this);
            connect(rb, &QRadioButton::clicked, this, [this, c, n](bool on) {
                if (syncing_) return;
                c->value = on ? 1 : 0;
                if (handler h = lookup(click_handlers(), n)) run(h);
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
        w->setGeometry(c->left / 15, c->top / 15, std::max(1, c->width / 15), std::max(1, c->height / 15));
        binding b{};
        b.c = c;
        b.w = w;
        bindings_.push_back(b);
    }
    trace_ = new QPlainTextEdit(this);
    trace_->setObjectName("trace");
    trace_->setReadOnly(true);
    trace_->setMaximumBlockCount(trace_view_lines);
    trace_->setFont(QFont("Monospace", 8));
    trace_->setGeometry(client_w + 8, 8, trace_w - 16, service_h - 16);
    progress_ = new QLabel(this);
    progress_->setObjectName("progress");
    progress_->setGeometry(8, last_row_top, 360, service_button_h);
    auto* save = new QPushButton("SAVE TRACE", this);
    save->setObjectName("save_trace");
    save->setGeometry(8 + 3 * 1860 / 15, last_row_top, service_button_w, service_button_h);
    connect(save, &QPushButton::clicked, this, [this] {
        const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString path = QFileDialog::getSaveFileName(this, "SAVE TRACE", docs + "/torvela-trace.txt",
                                                          "TEXT (*.txt)");
        if (!path.isEmpty()) save_trace(path);
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
    const QByteArray text = (trace_text() + "\n").toUtf8();
    return out.write(text) == text.size();
}

QString main_window::progress_text() const {
    const auto& p = form_->progress;
    if (p.total == 0) return {};
    QString text = QString("PAGES %1/%2  %3 ELAPSED").arg(p.done).arg(p.total).arg(clock(pass_clock_.elapsed()));
    if (p.done > 0 && p.done < p.total)
        text += QString("  %1 LEFT").arg(clock(pass_clock_.elapsed() * (p.total - p.done) / p.done));
    return text;
}

void main_window::update_progress() {
    // Each pass is timed from its start, whether the figures are shown or not.
    if (form_->progress.pass != pass_seen_) {
        pass_seen_ = form_->progress.pass;
        pass_clock_.start();
    }
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
        setFixedSize(client_w + trace_w, service_h);
    else
        setFixedSize(client_w, client_h);
    trace_->setVisible(on);
    progress_->setVisible(on);
    save_trace_->setVisible(on);
    if (on) update_trace();
    for (binding& b : bindings_) {
        b.shown = -1;
        place(b);
    }
    refresh();
}

void main_window::run(handler h) {
    h(*form_);
    refresh();
}

// A control hidden at design time that lies in the operator's area moves
// into its service row while the service view is on.
void main_window::place(binding& b) {
    const torvela::control& c = *b.c;
    if (service_view_ && c.service_top != 0)
        b.w->setGeometry(c.service_left / 15, c.service_top / 15, service_button_w, service_button_h);
    else
        b.w->setGeometry(c.left / 15, c.top / 15, std::max(1, c.width / 15), std::max(1, c.height / 15));
}

void main_window::sync(binding& b) {
    torvela::control& c = *b.c;
    // The service view shows every control hidden at design time.
    const bool service = c.top >= 3150 || c.service_top != 0;
    const int shown = (c.visible || (service_view_ && service)) ? 1 : 0;
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
    QString why;
    if (last_status_ == "PORT OPEN ERROR" && !serial_.PortOpen())
        why = QString("COM%1 (%2): %3")
                  .arg(form_->comm_port)
                  .arg(QString::fromStdString(device_.device()), QString::fromStdString(device_.last_error()));
    if (status_tip_ != why) {
        status_tip_ = why;
        widget("Label9")->setToolTip(why);
    }
    // The timers run while the model says they are enabled.
    const std::pair<QTimer*, const torvela::control*> timers[] = {
        {&timer1_, &form_->Timer1}, {&timer2_, &form_->Timer2}, {&timer3_, &form_->Timer3}};
    for (auto [t, c] : timers) {
        if (c->enabled && !t->isActive()) t->start();
        if (!c->enabled && t->isActive()) t->stop();
    }
    // With the port closed the engine has nothing to step: its tick only
    // shows the port state, so it need not wake the machine 250 times a
    // second. It goes back to its interval the moment the port is open.
    const int engine_interval = serial_.PortOpen() ? form_->Timer1.interval : idle_engine_interval;
    if (timer1_.interval() != engine_interval) timer1_.setInterval(engine_interval);
    if (service_view_ && trace_dirty_) update_trace();
    update_progress();
}

void main_window::update_trace() {
    trace_dirty_ = false;
    // Rebuilt at most once a tick while frames go: only what the view holds.
    trace_->setPlainText(trace_text(trace_view_lines));
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
