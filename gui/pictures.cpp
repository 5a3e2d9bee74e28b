#include "pictures.hpp"

#include <QPainter>
#include <QPainterPath>

namespace torvela_gui {

picture::picture(int n, QWidget* parent) : QWidget(parent), n_(n) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

namespace {

void spinner(QPainter& p, const QRect& r, int phase) {
    const QRectF disc = QRectF(r).adjusted(1, 1, -1, -1);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(230, 230, 230));
    p.drawEllipse(disc);
    p.setBrush(QColor(20, 90, 200));
    // One quarter filled, turning clockwise from the top.
    p.drawPie(disc, (90 - 90 * phase) * 16, -90 * 16);
}

void chevrons(QPainter& p, const QRect& r, int count, bool down) {
    p.setPen(QPen(QColor(200, 60, 20), 2));
    const int h = r.height() / 5;
    for (int i = 0; i < count; ++i) {
        // Filling from the PC downwards, or from the writer upwards.
        const int y = down ? r.top() + 2 + i * h : r.bottom() - 2 - i * h;
        const int tip = down ? y + h - 2 : y - h + 2;
        p.drawLine(r.left() + 2, y, r.center().x(), tip);
        p.drawLine(r.right() - 2, y, r.center().x(), tip);
    }
}

void pc(QPainter& p, const QRect& r) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(210, 215, 225));
    const QRect screen(r.left() + 2, r.top() + 1, r.width() - 4, r.height() * 2 / 3);
    p.drawRect(screen);
    p.setBrush(QColor(60, 110, 170));
    p.drawRect(screen.adjusted(3, 3, -3, -3));
    p.setBrush(QColor(160, 160, 160));
    p.drawRect(r.left() + 6, r.bottom() - r.height() / 4, r.width() - 12, r.height() / 4 - 1);
}

void writer_box(QPainter& p, const QRect& r) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(90, 90, 95));
    p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    p.setBrush(QColor(30, 200, 60));
    p.drawEllipse(QPoint(r.left() + 5, r.center().y()), 2, 2);
    p.setPen(QPen(QColor(200, 200, 200), 1));
    p.drawLine(r.left() + 12, r.center().y(), r.right() - 4, r.center().y());
}

}  // namespace

void picture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = rect();
    if (n_ >= 1 && n_ <= 4) spinner(p, r, n_ - 1);
    else if (n_ >= 5 && n_ <= 9) chevrons(p, r, n_ - 5, true);
    else if (n_ >= 12 && n_ <= 16) chevrons(p, r, n_ - 12, false);
    else if (n_ == 10) pc(p, r);
    else if (n_ == 11) writer_box(p, r);
}

}  // namespace torvela_gui
