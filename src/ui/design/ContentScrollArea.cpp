#include "ContentScrollArea.h"

#include <QResizeEvent>

namespace orvane {

ContentScrollArea::ContentScrollArea(QWidget* content, int minimumHeight, QWidget* parent)
    : QScrollArea(parent), m_minimumHeight(minimumHeight) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidget(content);
    viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

int ContentScrollArea::contentHeight() const {
    const QWidget* content = widget();
    if (!content) {
        return 0;
    }
    // The width the content gets when it fits, that is without a scroll bar.
    const int w = width() > 0 ? width() : content->sizeHint().width();
    return content->hasHeightForWidth() ? content->heightForWidth(w) : content->sizeHint().height();
}

QSize ContentScrollArea::sizeHint() const {
    return {QScrollArea::sizeHint().width(), contentHeight()};
}

QSize ContentScrollArea::minimumSizeHint() const {
    return {0, std::min(contentHeight(), m_minimumHeight)};
}

void ContentScrollArea::contentChanged() {
    updateGeometry();
}

void ContentScrollArea::setFloor(int minimumHeight) {
    if (minimumHeight != m_minimumHeight) {
        m_minimumHeight = minimumHeight;
        updateGeometry();
    }
}

} // namespace orvane

namespace orvane {

void ContentScrollArea::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    // Rows wrap differently at another width, so the height asked for changes with it.
    if (event->oldSize().width() != event->size().width()) {
        updateGeometry();
    }
}

} // namespace orvane
