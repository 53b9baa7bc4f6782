#include "PlainTextButton.h"

#include "Typography.h"

#include <QFontMetrics>
#include <QPainter>

namespace orvane {

PlainTextButton::PlainTextButton(const QString& text, int pixelSize, const QColor& color,
                                 QWidget* parent)
    : QAbstractButton(parent), m_pixelSize(pixelSize), m_color(color) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PlainTextButton::sizeHint() const {
    const QFontMetrics metrics(Typography::font(m_pixelSize));
    return {metrics.horizontalAdvance(text()) + 2, metrics.height()};
}

void PlainTextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(isDown() ? 0.6 : 1.0);
    painter.setFont(Typography::font(m_pixelSize));
    painter.setPen(m_color);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
}

} // namespace orvane
