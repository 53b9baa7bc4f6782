#include "ConnectButton.h"

#include "Palette.h"
#include "Typography.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>

namespace orvane {

ConnectButton::ConnectButton(QWidget* parent) : QAbstractButton(parent) {
    setFixedSize(178, 178);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, 51));
    shadow->setBlurRadius(52);
    shadow->setOffset(0, 18);
    setGraphicsEffect(shadow);
}

void ConnectButton::setConnected(bool connected) {
    if (connected != m_connected) {
        m_connected = connected;
        update();
    }
}

void ConnectButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) {
        painter.setOpacity(0.85);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_connected ? Palette::blue() : Palette::black());
    painter.drawEllipse(QRectF(rect()));
    painter.setFont(Typography::font(22));
    painter.setPen(isEnabled() ? QColor(Qt::white) : Palette::withOpacity(Qt::white, 0.6));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace orvane
