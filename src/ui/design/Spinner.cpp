#include "Spinner.h"

#include "Palette.h"

#include <QPainter>

namespace orvane {

Spinner::Spinner(int diameter, QWidget* parent) : QWidget(parent), m_diameter(diameter) {
    setFixedSize(diameter, diameter);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 6) % 360;
        update();
    });
}

void Spinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_timer.stop();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double pen = std::max(2.0, m_diameter / 10.0);
    const QRectF ring = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.setPen(QPen(Palette::lineSoft(), pen));
    painter.drawEllipse(ring);
    painter.setPen(QPen(Palette::ink(), pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, -m_angle * 16, 100 * 16);
}

} // namespace orvane
