#include "main_window.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QShortcut>

#include <QListWidget>
#include <QDesktopServices>
#include <QUrl>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

#include "pictures.hpp"

namespace torvela_gui {

namespace {

using torvela::redraw_part;

// What a window manager's frame takes around the window before the window
// is shown and its real frame known: a title bar and thin borders.
constexpr QMargins assumed_frame(4, 30, 4, 4);

}  // namespace

QRect main_window::placed(const torvela::rect& r) const {
    const auto at = [this](int v) { return static_cast<int>(std::lround(v * scale_)); };
    return {at(r.x), at(r.y), at(r.x + r.width) - at(r.x), at(r.y + r.height) - at(r.y)};
}

// The design as it is where the screen's free area takes it, else scaled
// down to fit (fonts too), the window moved to lie within that area.
void main_window::fit(const torvela::rect& area) {
    const QScreen* s = screen();
    const QRect room = s ? s->availableGeometry() : QRect(0, 0, area.width, area.height);
    QMargins frame = assumed_frame;
    if (isVisible() && frameGeometry() != geometry())
        frame = QMargins(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    const double fit_w = static_cast<double>(room.width() - frame.left() - frame.right()) / area.width;
    const double fit_h = static_cast<double>(room.height() - frame.top() - frame.bottom()) / area.height;
    scale_ = std::min({1.0, fit_w, fit_h});
    QFont f = design_font_;
    f.setPointSizeF(design_font_.pointSizeF() * scale_);
    setFont(f);
    QFont t = trace_font_;
    t.setPointSizeF(trace_font_.pointSizeF() * scale_);
    trace_->setFont(t);
    jobs_->setFont(t);
    const QRect inside = placed(area);
    setFixedSize(inside.width(), inside.height());
    const int x = std::clamp(pos().x(), room.left(), std::max(room.left(), room.right() + 1 - frame.left() - frame.right() - inside.width()));
    const int y = std::clamp(pos().y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.top() - frame.bottom() - inside.height()));
    move(x, y);
    trace_->setGeometry(placed(torvela::trace_view_place));
    progress_->setGeometry(placed(torvela::progress_place));
    detail_->setGeometry(placed(torvela::detail_place));
    save_trace_->setGeometry(placed(torvela::save_trace_place));
    jobs_->setGeometry(placed(torvela::jobs_view_place));
    kept_units_->setGeometry(placed(torvela::kept_units_place));
}

main_window::main_window() : box_(this), dialogs_(this) {
    setObjectName("main_form");
    design_font_ = font();
    setWindowTitle("TORVELA");
    clock_.start();
    form_ = std::make_unique<torvela::main_form>(services_.serial, box_, dialogs_, services_.files);
    form_->history = &services_.history;
    services_.attach(*form_);
    form_->program = "torvela";
    // The three timers on the driver's clock: one precise single-shot timer
    // wakes when the next is due.
    driver_ = std::make_unique<torvela::front_driver>(*form_, services_.serial,
                                                      torvela::timer_driver::offered::by_one_timer);
    build();
    driver_->load(clock_.elapsed());
    pump_.setTimerType(Qt::PreciseTimer);
    pump_.setSingleShot(true);
    connect(&pump_, &QTimer::timeout, this, [this] { on_tick(); });
    schedule();
    auto* toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), this);
    connect(toggle, &QShortcut::activated, this, [this] { set_service_view(!service_view()); });
    set_service_view(false);
}

main_window::~main_window() { driver_->unload(); }

void main_window::closeEvent(QCloseEvent* e) {
    driver_->unload();
    e->accept();
}

QWidget* main_window::make(torvela::control& c) {
    torvela::control* p = &c;
    // Only the operator's acts reach the driver: a widget drawn from the
    // form says nothing (its signals are blocked while it is drawn).
    switch (c.kind) {
    case torvela::control_kind::label: return new QLabel(this);
    case torvela::control_kind::button: {
        auto* b = new QPushButton(this);
        connect(b, &QPushButton::clicked, this, [this, p] { acted([&](auto at) { driver_->pressed(*p, at); }); });
        return b;
    }
    case torvela::control_kind::combo: {
        auto* cb = new QComboBox(this);
        cb->setEditable(true);
        cb->setInsertPolicy(QComboBox::NoInsert);
        connect(cb, &QComboBox::textActivated, this, [this, p](const QString& text) {
            acted([&](auto at) { driver_->picked(*p, text.toStdString(), at); });
        });
        connect(cb, &QComboBox::editTextChanged, this, [this, p](const QString& text) {
            acted([&](auto at) { driver_->typed(*p, text.toStdString(), at); });
        });
        return cb;
    }
    case torvela::control_kind::check:
    case torvela::control_kind::option: {
        QAbstractButton* b = c.kind == torvela::control_kind::check ? static_cast<QAbstractButton*>(new QCheckBox(this))
                                                                    : new QRadioButton(this);
        connect(b, &QAbstractButton::clicked, this,
                [this, p](bool on) { acted([&](auto at) { driver_->clicked(*p, on, at); }); });
        return b;
    }
    case torvela::control_kind::text: {
        auto* e = new QLineEdit(this);
        connect(e, &QLineEdit::textEdited, this,
                [this, p](const QString& text) { driver_->typed(*p, text.toStdString(), clock_.elapsed()); });
        return e;
    }
    case torvela::control_kind::image: return new picture(torvela::picture_number(c), this);
    case torvela::control_kind::timer: break;
    }
    return nullptr;
}

void main_window::build() {
    for (torvela::control* c : form_->controls) {
        QWidget* w = make(*c);
        if (!w) continue;
        w->setObjectName(QString::fromStdString(c->name));
        widgets_[c] = w;
    }
    trace_ = new QPlainTextEdit(this);
    trace_->setObjectName("trace");
    trace_->setReadOnly(true);
    trace_->setMaximumBlockCount(torvela::trace_view_lines);
    trace_->setLineWrapMode(QPlainTextEdit::NoWrap);  // a page's hex is not wrapped again on every append
    trace_font_ = QFont("Monospace", 8);
    trace_->setFont(trace_font_);
    progress_ = new QLabel(this);
    progress_->setObjectName("progress");
    // Wrapped, read-only and selectable (to be copied into a report); hidden
    // while there is nothing to say.
    detail_ = new QPlainTextEdit(this);
    detail_->setObjectName("detail");
    detail_->setReadOnly(true);
    detail_->setFrameShape(QFrame::NoFrame);
    detail_->setBackgroundRole(QPalette::Window);
    detail_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    detail_->setVisible(false);
    auto* save = new QPushButton("SAVE TRACE", this);
    save->setObjectName("save_trace");
    connect(save, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, "SAVE TRACE",
                                                          QString::fromStdString(torvela::first_folder(folders_to_start_in())) +
                                                              "/" + torvela::trace_file_name,
                                                          "TEXT (*.txt)");
        if (!path.isEmpty() && !save_trace(path))
            QMessageBox::warning(this, "SAVE TRACE",
                                 QString::fromStdString(torvela::trace_not_saved(path.toStdString())));
    });
    save_trace_ = save;
    // The last jobs of the history, and the folder of the units kept.
    jobs_ = new QListWidget(this);
    jobs_->setObjectName("jobs");
    jobs_->setFont(trace_font_);
    jobs_->setSelectionMode(QAbstractItemView::NoSelection);
    auto* kept = new QPushButton("KEPT UNITS", this);
    kept->setObjectName("kept_units");
    connect(kept, &QPushButton::clicked, this, [this] {
        const QString folder = QString::fromStdString(driver_->kept_units_folder());
        if (folder.isEmpty() || !QFileInfo(folder).isDir() || !QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            QMessageBox::information(this, "KEPT UNITS",
                                     folder.isEmpty() ? "No unit is kept: this user has no data folder."
                                                      : "No unit has been kept in " + folder + " yet, or it cannot be shown.");
    });
    kept_units_ = kept;
}

QString main_window::trace_text(std::size_t last) const {
    return QString::fromStdString(driver_->trace_text(last));
}

bool main_window::save_trace(const QString& path) const { return driver_->save_trace(path.toStdString()); }

QString main_window::progress_text() const { return QString::fromStdString(driver_->progress().text()); }

std::vector<QString> main_window::status_history() const {
    std::vector<QString> texts;
    for (const std::string& s : driver_->status_history()) texts.push_back(QString::fromStdString(s));
    return texts;
}

QWidget* main_window::widget(const QString& name) const {
    for (const auto& [c, w] : widgets_)
        if (w->objectName() == name) return w;
    return findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

void main_window::set_service_view(bool on) {
    driver_->set_service_view(on);
    fit(torvela::window_area(on));
    for (QWidget* w : {static_cast<QWidget*>(trace_), static_cast<QWidget*>(progress_), save_trace_,
                       static_cast<QWidget*>(jobs_), kept_units_})
        w->setVisible(on);
    refresh();
}

template <class Act>
void main_window::acted(Act act) {
    act(clock_.elapsed());
    refresh();
    schedule();  // an opened port makes the engine due sooner
}

void main_window::on_tick() {
    const bool heard = services_.take_shop_note(*form_);
    if (driver_->tick(clock_.elapsed()) || heard) refresh();
    schedule();
}

void main_window::schedule() {
    pump_.start(static_cast<int>(std::max<qint64>(0, driver_->next_due() - clock_.elapsed())));
}

void main_window::draw(const torvela::control_change& change) {
    const torvela::control& c = *change.c;
    QWidget* w = widgets_.at(change.c);
    const QSignalBlocker quiet(w);
    if (change.has(redraw_part::place)) w->setGeometry(placed(change.at));
    if (change.has(redraw_part::shown)) w->setVisible(change.shown);
    if (change.has(redraw_part::enabled)) w->setEnabled(c.enabled);
    const QString caption = QString::fromStdString(c.caption);
    const bool new_caption = change.has(redraw_part::caption);
    switch (c.kind) {
    case torvela::control_kind::label:
        if (new_caption) static_cast<QLabel*>(w)->setText(caption);
        break;
    case torvela::control_kind::button:
    case torvela::control_kind::check:
    case torvela::control_kind::option: {
        auto* b = static_cast<QAbstractButton*>(w);
        if (new_caption) b->setText(caption);
        if (change.has(redraw_part::value)) b->setChecked(c.value == 1);
        break;
    }
    case torvela::control_kind::combo: {
        auto* cb = static_cast<QComboBox*>(w);
        if (change.has(redraw_part::items)) {
            cb->clear();
            for (const std::string& item : c.items) cb->addItem(QString::fromStdString(item));
        }
        // Only a text that differs from what the box shows is set: setting it
        // while the operator types would move the cursor to the end.
        if (new_caption && cb->currentText() != caption) cb->setEditText(caption);
        break;
    }
    case torvela::control_kind::text:
        if (new_caption && static_cast<QLineEdit*>(w)->text() != caption) static_cast<QLineEdit*>(w)->setText(caption);
        break;
    case torvela::control_kind::image:
    case torvela::control_kind::timer:
        break;
    }
}

void main_window::refresh() {
    const torvela::front_driver::redraw r = driver_->refresh(clock_.elapsed());
    for (const torvela::control_change& change : r.controls) draw(change);
    if (r.title) setWindowTitle(QString::fromStdString(*r.title));
    // The status text stays as it is; the reason behind a port that would
    // not open is on it as a tooltip, for an operator who never sees the
    // trace.
    if (r.status_tip) widget("Label9")->setToolTip(QString::fromStdString(*r.status_tip));
    if (r.progress) progress_->setText(QString::fromStdString(*r.progress));
    if (r.detail) {
        detail_->setPlainText(QString::fromStdString(*r.detail));
        detail_->setVisible(!r.detail->empty());
    }
    show_trace(r.trace);
    if (r.jobs) {
        jobs_->clear();
        for (const std::string& line : *r.jobs) jobs_->addItem(QString::fromStdString(line));
        jobs_->scrollToBottom();
    }
}

void main_window::show_trace(const torvela::trace_feed::update& u) {
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
