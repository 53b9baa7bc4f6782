#include "HelpButton.h"

#include "Palette.h"
#include "Typography.h"

#include <QPainter>

namespace orvane {

HelpButton::HelpButton(QWidget* parent) : QAbstractButton(parent) {
    setText(QStringLiteral("?"));
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
}

void HelpButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The circle sits 2 px above the row's centre line.
    const QRectF circle(0.5, 0.5, 17, 17);
    painter.setPen(QPen(Palette::line(), 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(circle);
    painter.setFont(Typography::font(10));
    painter.setPen(Palette::black());
    painter.drawText(circle, Qt::AlignCenter, text());
}

} // namespace orvane
