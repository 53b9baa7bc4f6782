#include "SegmentedControl.h"

#include "Palette.h"
#include "Typography.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace orvane {

namespace {
constexpr int kInset = 3;
constexpr int kSpacing = 3;
constexpr int kSegmentHeight = 32;
} // namespace

SegmentedControl::SegmentedControl(QStringList titles, QWidget* parent)
    : QWidget(parent), m_titles(std::move(titles)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void SegmentedControl::setSelectedIndex(int index) {
    if (index != m_selected) {
        m_selected = index;
        update();
    }
}

QRect SegmentedControl::segmentRect(int index) const {
    const int n = std::max(count(), 1);
    const int inner = width() - 2 * kInset - (n - 1) * kSpacing;
    const int left = kInset + index * inner / n + index * kSpacing;
    const int right = kInset + (index + 1) * inner / n + index * kSpacing;
    return {left, kInset, right - left, height() - 2 * kInset};
}

QSize SegmentedControl::sizeHint() const {
    const QFontMetrics metrics(Typography::font(12));
    int widest = 0;
    for (const QString& title : m_titles) {
        widest = std::max(widest, metrics.horizontalAdvance(title) + 24);
    }
    return {count() * (widest + kSpacing) + 2 * kInset, kSegmentHeight + 2 * kInset};
}

QSize SegmentedControl::minimumSizeHint() const {
    return sizeHint();
}

int SegmentedControl::indexAt(const QPoint& point) const {
    for (int i = 0; i < count(); ++i) {
        if (segmentRect(i).contains(point)) {
            return i;
        }
    }
    return -1;
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    m_pressed = indexAt(event->position().toPoint());
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    const int index = indexAt(event->position().toPoint());
    const bool hit = index >= 0 && index == m_pressed;
    m_pressed = -1;
    if (hit) {
        emit segmentClicked(index);
    }
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::soft());
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
    painter.setFont(Typography::font(12));
    for (int i = 0; i < count(); ++i) {
        const QRectF box = segmentRect(i);
        const bool selected = i == m_selected;
        if (selected) {
            // A soft shadow under the chosen segment.
            painter.setBrush(QColor(0, 0, 0, 14));
            painter.drawRoundedRect(box.translated(0, 3).adjusted(-1, 0, 1, 1), 7, 7);
        }
        painter.setBrush(selected ? Palette::black() : QColor(Qt::white));
        painter.drawRoundedRect(box, 6, 6);
        painter.setPen(selected ? QColor(Qt::white) : Palette::black());
        painter.drawText(box, Qt::AlignCenter, m_titles.at(i));
        painter.setPen(Qt::NoPen);
    }
}

} // namespace orvane
