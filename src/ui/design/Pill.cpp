#include "Pill.h"

#include "Typography.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace orvane {

Pill::Pill(const QString& text, const QColor& tint, const QColor& background, QWidget* parent)
    : QWidget(parent), m_text(text), m_tint(tint), m_background(background) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Pill::setText(const QString& text) {
    if (text == m_text) {
        return;
    }
    m_text = text;
    updateGeometry();
    update();
}

void Pill::setColors(const QColor& tint, const QColor& background) {
    if (tint == m_tint && background == m_background) {
        return;
    }
    m_tint = tint;
    m_background = background;
    update();
}

void Pill::setMetrics(int pixelSize, int padding, int minHeight, int minWidth) {
    m_pixelSize = pixelSize;
    m_padding = padding;
    m_minHeight = minHeight;
    m_minWidth = minWidth;
    updateGeometry();
    update();
}

QSize Pill::sizeHint() const {
    const QFontMetrics metrics(Typography::font(m_pixelSize));
    const int width = metrics.horizontalAdvance(m_text) + 2 * m_padding;
    return {std::min(std::max(width, std::max(m_minWidth, m_minHeight)), maximumWidth()),
            std::max(m_minHeight, metrics.height())};
}

void Pill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = rect();
    const double radius = box.height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background);
    painter.drawRoundedRect(box, radius, radius);
    const QFont font = Typography::font(m_pixelSize);
    painter.setFont(font);
    painter.setPen(m_tint);
    // Held to its maximum width, a long text ends in an ellipsis inside the capsule.
    const QString shown =
        QFontMetrics(font).elidedText(m_text, Qt::ElideRight, std::max(0, width() - 2 * m_padding));
    painter.drawText(box, Qt::AlignCenter, shown);
}

} // namespace orvane
