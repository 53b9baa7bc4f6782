#include "FirstPaintMarker.h"

#include <QEvent>
#include <QWidget>

#include <cstdio>

namespace orvane {

FirstPaintMarker::FirstPaintMarker(QWidget* widget) : QObject(widget) {
    widget->installEventFilter(this);
}

bool FirstPaintMarker::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint) {
        watched->removeEventFilter(this);
        std::fputs("first-paint\n", stdout);
        std::fflush(stdout);
        deleteLater();
    }
    return false;
}

} // namespace orvane
