#include "pictures.hpp"

#include <QPainter>

#include "window/layout.hpp"

namespace torvela_gui {

picture::picture(int n, QWidget* parent) : QWidget(parent), n_(n) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void picture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    auto colour = [](std::uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); };
    for (const torvela::shape& s : torvela::picture_shapes(n_, {0, 0, width(), height()})) {
        p.setPen(QPen(colour(s.pen), s.pen_width));
        p.setBrush(s.brush == torvela::no_fill ? QBrush(Qt::NoBrush) : QBrush(colour(s.brush)));
        const QRect r(s.at.x, s.at.y, s.at.width, s.at.height);
        switch (s.what) {
        case torvela::shape::kind::ellipse: p.drawEllipse(r); break;
        case torvela::shape::kind::pie: p.drawPie(r, s.start_deg * 16, s.span_deg * 16); break;
        case torvela::shape::kind::line: p.drawLine(r.x(), r.y(), r.x() + s.at.width, r.y() + s.at.height); break;
        case torvela::shape::kind::box: p.drawRect(r); break;
        case torvela::shape::kind::rounded_box: p.drawRoundedRect(r, 2, 2); break;
        }
    }
}

}  // namespace torvela_gui
