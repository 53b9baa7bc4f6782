#include "ClickableCard.h"

#include <QLayout>
#include <QPainter>

namespace orvane {

ClickableCard::ClickableCard(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ClickableCard::setColors(const QColor& fill, const QColor& outline) {
    if (fill == m_fill && outline == m_outline) {
        return;
    }
    m_fill = fill;
    m_outline = outline;
    update();
}

void ClickableCard::setRadius(double radius) {
    m_radius = radius;
    update();
}

// A QAbstractButton has no size of its own; the layout inside it decides.
QSize ClickableCard::sizeHint() const {
    return layout() ? layout()->totalSizeHint() : QSize(0, 0);
}

QSize ClickableCard::minimumSizeHint() const {
    return layout() ? layout()->totalMinimumSize() : QSize(0, 0);
}

bool ClickableCard::hasHeightForWidth() const {
    return layout() && layout()->hasHeightForWidth();
}

int ClickableCard::heightForWidth(int width) const {
    return layout() ? layout()->totalHeightForWidth(width) : -1;
}

void ClickableCard::letClicksThrough() {
    for (QWidget* child : findChildren<QWidget*>()) {
        if (!qobject_cast<QAbstractButton*>(child)) {
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
    }
}

void ClickableCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_outline.alpha() == 0 ? QPen(Qt::NoPen) : QPen(m_outline, 1));
    painter.setBrush(m_fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
}

} // namespace orvane
