#include "BusyOverlay.h"

#include "PanelFrame.h"
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
    PanelFrame::paintCard(painter, rect(), QColor(246, 246, 248, 232), QColor(0, 0, 0, 18));
}

} // namespace orvane
