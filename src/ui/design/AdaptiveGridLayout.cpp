#include "AdaptiveGridLayout.h"

#include <QWidget>

#include <algorithm>

namespace orvane {

AdaptiveGridLayout::AdaptiveGridLayout(int minimumColumnWidth, int spacing, QWidget* parent)
    : QLayout(parent), m_minimumColumnWidth(minimumColumnWidth), m_spacing(spacing) {
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGridLayout::~AdaptiveGridLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

int AdaptiveGridLayout::columnCount(int width, int minimumColumnWidth, int spacing) {
    return std::max(1, (width + spacing) / (minimumColumnWidth + spacing));
}

int AdaptiveGridLayout::columnCount(int width) const {
    const QMargins m = contentsMargins();
    return columnCount(width - m.left() - m.right(), m_minimumColumnWidth, m_spacing);
}

void AdaptiveGridLayout::addItem(QLayoutItem* item) {
    m_items.append(item);
    invalidate();
}

QLayoutItem* AdaptiveGridLayout::itemAt(int index) const {
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* AdaptiveGridLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size()) {
        return nullptr;
    }
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

QSize AdaptiveGridLayout::sizeHint() const {
    const QMargins m = contentsMargins();
    const int width = m_minimumColumnWidth + m.left() + m.right();
    return {width, heightForWidth(width)};
}

QSize AdaptiveGridLayout::minimumSize() const {
    const QMargins m = contentsMargins();
    return {m.left() + m.right(), 0};
}

int AdaptiveGridLayout::heightForWidth(int width) const {
    return arrange(QRect(0, 0, width, 0), false);
}

void AdaptiveGridLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int AdaptiveGridLayout::arrange(const QRect& rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int columns = columnCount(area.width(), m_minimumColumnWidth, m_spacing);
    const int columnWidth = std::max(0, (area.width() - (columns - 1) * m_spacing) / columns);
    QList<QLayoutItem*> visible;
    for (QLayoutItem* item : m_items) {
        if (!item->isEmpty()) {
            visible.append(item);
        }
    }
    int y = area.top();
    for (qsizetype first = 0; first < visible.size(); first += columns) {
        const qsizetype last = std::min(first + columns, visible.size());
        int rowHeight = 0;
        for (qsizetype i = first; i < last; ++i) {
            QLayoutItem* item = visible.at(i);
            const int h = item->hasHeightForWidth() ? item->heightForWidth(columnWidth)
                                                    : item->sizeHint().height();
            rowHeight = std::max(rowHeight, h);
        }
        if (apply) {
            for (qsizetype i = first; i < last; ++i) {
                const int column = static_cast<int>(i - first);
                visible.at(i)->setGeometry(QRect(area.left() + column * (columnWidth + m_spacing),
                                                 y, columnWidth, rowHeight));
            }
        }
        y += rowHeight + m_spacing;
    }
    const QMargins m = contentsMargins();
    const int content = visible.isEmpty() ? 0 : y - m_spacing - area.top();
    return content + m.top() + m.bottom();
}

} // namespace orvane
