#include "SymbolIcon.h"

#include <QPainter>

namespace orvane {

namespace {
struct Square {
    double ox;
    double oy;
    double s;
    QPointF at(double x, double y) const { return {ox + x * s, oy + y * s}; }
};

Square squareIn(const QRectF& box) {
    const double s = std::min(box.width(), box.height());
    return {box.x() + (box.width() - s) / 2, box.y() + (box.height() - s) / 2, s};
}
} // namespace

SymbolIcon::SymbolIcon(Kind kind, const QColor& color, QWidget* parent)
    : QWidget(parent), m_kind(kind), m_color(color) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolIcon::setColor(const QColor& color) {
    if (color != m_color) {
        m_color = color;
        update();
    }
}

QPainterPath SymbolIcon::homePath(const QRectF& box) {
    const Square q = squareIn(box);
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    // Body.
    path.moveTo(q.at(0.19, 0.47));
    path.lineTo(q.at(0.50, 0.28));
    path.lineTo(q.at(0.81, 0.47));
    path.lineTo(q.at(0.81, 0.79));
    path.quadTo(q.at(0.81, 0.82), q.at(0.77, 0.83));
    path.lineTo(q.at(0.23, 0.83));
    path.quadTo(q.at(0.19, 0.82), q.at(0.19, 0.79));
    path.closeSubpath();
    // Door.
    path.moveTo(q.at(0.44, 0.83));
    path.lineTo(q.at(0.44, 0.58));
    path.quadTo(q.at(0.44, 0.56), q.at(0.47, 0.55));
    path.lineTo(q.at(0.58, 0.55));
    path.quadTo(q.at(0.61, 0.56), q.at(0.61, 0.58));
    path.lineTo(q.at(0.61, 0.83));
    // Roof band.
    path.moveTo(q.at(0.12, 0.46));
    path.quadTo(q.at(0.09, 0.39), q.at(0.18, 0.36));
    path.lineTo(q.at(0.48, 0.19));
    path.quadTo(q.at(0.50, 0.18), q.at(0.52, 0.19));
    path.lineTo(q.at(0.82, 0.36));
    path.quadTo(q.at(0.91, 0.39), q.at(0.88, 0.46));
    path.quadTo(q.at(0.86, 0.52), q.at(0.78, 0.50));
    path.lineTo(q.at(0.50, 0.34));
    path.lineTo(q.at(0.22, 0.50));
    path.quadTo(q.at(0.15, 0.52), q.at(0.12, 0.46));
    return path;
}

void SymbolIcon::paint(QPainter& painter, Kind kind, const QRectF& box, const QColor& color) {
    const Square q = squareIn(box);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, std::max(1.5, q.s * 0.09), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (kind) {
    case Kind::home:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(homePath(box));
        break;
    case Kind::routes: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        const double r = q.s * 0.1;
        painter.drawEllipse(q.at(0.22, 0.24), r, r);
        painter.drawEllipse(q.at(0.78, 0.76), r, r);
        QPainterPath curve;
        curve.moveTo(q.at(0.22, 0.24));
        curve.cubicTo(q.at(0.22, 0.70), q.at(0.78, 0.30), q.at(0.78, 0.76));
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(curve);
        break;
    }
    case Kind::cart: {
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        QPainterPath basket;
        basket.moveTo(q.at(0.10, 0.20));
        basket.lineTo(q.at(0.24, 0.20));
        basket.lineTo(q.at(0.34, 0.64));
        basket.lineTo(q.at(0.80, 0.64));
        basket.lineTo(q.at(0.88, 0.34));
        basket.lineTo(q.at(0.28, 0.34));
        painter.drawPath(basket);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(q.at(0.38, 0.80), q.s * 0.07, q.s * 0.07);
        painter.drawEllipse(q.at(0.76, 0.80), q.s * 0.07, q.s * 0.07);
        break;
    }
    case Kind::gift: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        QPainterPath parts;
        parts.addRoundedRect(QRectF(q.at(0.14, 0.34), q.at(0.86, 0.50)), q.s * 0.04,
                             q.s * 0.04);
        parts.addRoundedRect(QRectF(q.at(0.20, 0.54), q.at(0.80, 0.88)), q.s * 0.04,
                             q.s * 0.04);
        // The ribbon is a gap through the lid and the box.
        QPainterPath ribbon;
        ribbon.addRect(QRectF(q.at(0.455, 0.30), q.at(0.545, 0.90)));
        painter.drawPath(parts.subtracted(ribbon));
        QPen bow = pen;
        bow.setWidthF(std::max(1.2, q.s * 0.07));
        painter.setPen(bow);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(q.at(0.28, 0.12), q.at(0.48, 0.30)));
        painter.drawEllipse(QRectF(q.at(0.52, 0.12), q.at(0.72, 0.30)));
        break;
    }
    case Kind::person: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(q.at(0.5, 0.32), q.s * 0.17, q.s * 0.17);
        QPainterPath body;
        body.moveTo(q.at(0.16, 0.86));
        body.cubicTo(q.at(0.16, 0.60), q.at(0.34, 0.54), q.at(0.5, 0.54));
        body.cubicTo(q.at(0.66, 0.54), q.at(0.84, 0.60), q.at(0.84, 0.86));
        body.closeSubpath();
        painter.drawPath(body);
        break;
    }
    case Kind::xmark:
        painter.setPen(pen);
        painter.drawLine(q.at(0.28, 0.28), q.at(0.72, 0.72));
        painter.drawLine(q.at(0.72, 0.28), q.at(0.28, 0.72));
        break;
    case Kind::checkmarkCircle: {
        // A filled disc with the tick cut out of it.
        QPainterPath disc;
        disc.addEllipse(QRectF(q.at(0.04, 0.04), q.at(0.96, 0.96)));
        QPainterPath tick;
        tick.moveTo(q.at(0.28, 0.52));
        tick.lineTo(q.at(0.44, 0.68));
        tick.lineTo(q.at(0.73, 0.36));
        QPainterPathStroker stroker;
        stroker.setWidth(q.s * 0.11);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(disc.subtracted(stroker.createStroke(tick)));
        break;
    }
    }
    painter.restore();
}

void SymbolIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, m_kind, rect(), m_color);
}

} // namespace orvane
