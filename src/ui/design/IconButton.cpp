#include "IconButton.h"

#include <QPainter>

namespace orvane {

IconButton::IconButton(SymbolIcon::Kind kind, int diameter, const QColor& color,
                       const QColor& background, QWidget* parent)
    : QAbstractButton(parent), m_kind(kind), m_color(color), m_background(background) {
    setFixedSize(diameter, diameter);
    setCursor(Qt::PointingHandCursor);
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? 0.6 : 1.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background);
    painter.drawEllipse(QRectF(rect()));
    // A 12 px glyph in the middle of the circle.
    const QRectF glyph(QPointF(width() / 2.0 - 8, height() / 2.0 - 8), QSizeF(16, 16));
    SymbolIcon::paint(painter, m_kind, glyph, m_color);
}

} // namespace orvane
