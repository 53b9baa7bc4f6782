#include "WideButton.h"

#include "Palette.h"
#include "PanelFrame.h"
#include "Typography.h"

#include <QFontMetrics>
#include <QPainter>

namespace orvane {

WideButton::WideButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void WideButton::setLook(const QString& text, const QColor& textColor, const QColor& fill) {
    if (text == this->text() && textColor == m_textColor && fill == m_fill) {
        return;
    }
    setText(text);
    m_textColor = textColor;
    m_fill = fill;
    update();
}

QSize WideButton::sizeHint() const {
    const QFontMetrics metrics(Typography::font(17));
    return {metrics.horizontalAdvance(text()) + 24, 46};
}

QSize WideButton::minimumSizeHint() const {
    return {0, 46};
}

void WideButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (isDown()) {
        painter.setOpacity(0.8);
    }
    PanelFrame::paintCard(painter, rect(), m_fill, Palette::black());
    painter.setFont(Typography::font(17));
    painter.setPen(m_textColor);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace orvane
