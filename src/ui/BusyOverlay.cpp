#include "BusyOverlay.h"

#include "Spinner.h"

#include <QPainter>
#include <QVBoxLayout>

namespace orvane {

BusyOverlay::BusyOverlay(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(new Spinner(32, this));
    setFixedSize(layout->sizeHint());
}

void BusyOverlay::place() {
    if (QWidget* host = parentWidget()) {
        move((host->width() - width()) / 2, (host->height() - height()) / 2);
    }
    raise();
}

void BusyOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 18), 1));
    painter.setBrush(QColor(246, 246, 248, 232));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

} // namespace orvane
