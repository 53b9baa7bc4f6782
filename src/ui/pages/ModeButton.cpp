#include "ModeButton.h"

#include "Palette.h"
#include "PanelFrame.h"
#include "Typography.h"

#include <QFontMetrics>
#include <QPainter>

namespace orvane {

ModeButton::ModeButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ModeButton::setCurrent(bool current) {
    if (current != m_current) {
        m_current = current;
        update();
    }
}

QSize ModeButton::sizeHint() const {
    const QFontMetrics metrics(Typography::font(12));
    return {metrics.horizontalAdvance(text()) + 24, 38};
}

QSize ModeButton::minimumSizeHint() const {
    const QFontMetrics metrics(Typography::font(12));
    return {metrics.horizontalAdvance(text()) + 8, 38};
}

void ModeButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (isDown()) {
        painter.setOpacity(0.8);
    }
    PanelFrame::paintCard(painter, rect(), m_current ? Palette::black() : QColor(Qt::white),
                          Palette::line());
    painter.setFont(Typography::font(12));
    painter.setPen(m_current ? QColor(Qt::white) : Palette::black());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace orvane
