#include "PanelFrame.h"

#include "Palette.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>

namespace orvane {

PanelFrame::PanelFrame(bool shadow, QWidget* parent)
    : QWidget(parent), m_fill(Qt::white), m_outline(Palette::line()) {
    if (shadow) {
        auto* effect = new QGraphicsDropShadowEffect(this);
        effect->setColor(QColor(0, 0, 0, 15));
        effect->setBlurRadius(36);
        effect->setOffset(0, 10);
        setGraphicsEffect(effect);
    }
}

void PanelFrame::setColors(const QColor& fill, const QColor& outline) {
    m_fill = fill;
    m_outline = outline;
    update();
}

void PanelFrame::paintCard(QPainter& painter, const QRect& box, const QColor& fill,
                           const QColor& outline) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(outline, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

void PanelFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCard(painter, rect(), m_fill, m_outline);
}

} // namespace orvane
