#include "CapsuleButton.h"

#include "Palette.h"
#include "Typography.h"

#include <QFontMetrics>
#include <QPainter>

namespace orvane {

CapsuleButton::CapsuleButton(const QString& text, Style style, QWidget* parent)
    : QAbstractButton(parent), m_style(style) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CapsuleButton::setStyle(Style style) {
    if (style != m_style) {
        m_style = style;
        update();
    }
}

QSize CapsuleButton::sizeHint() const {
    const QFontMetrics metrics(Typography::font(12));
    const int padding = m_style == Style::primary ? 16 : 12;
    int width = metrics.horizontalAdvance(text()) + 2 * padding;
    if (m_style == Style::secondary) {
        width = std::max(width, 58);
    }
    return {width, 36};
}

void CapsuleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool primary = m_style == Style::primary;
    double opacity = isDown() ? (primary ? 0.75 : 0.7) : 1.0;
    if (!isEnabled()) {
        opacity *= 0.4;
    }
    painter.setOpacity(opacity);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = box.height() / 2.0;
    painter.setPen(primary ? QPen(Qt::NoPen) : QPen(Palette::line(), 1));
    painter.setBrush(primary ? Palette::black() : QColor(Qt::white));
    painter.drawRoundedRect(box, radius, radius);
    painter.setFont(Typography::font(12));
    painter.setPen(primary ? QColor(Qt::white) : Palette::ink());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace orvane
