#include "HelpPopover.h"

#include "FitLabel.h"
#include "Palette.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace orvane {

namespace {
constexpr int kTextWidth = 284;
constexpr int kPadding = 14;
constexpr int kArrow = 8;
} // namespace

HelpPopover::HelpPopover(const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint),
      m_text(new FitLabel(12, Palette::muted(), this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    // A click on the anchor while open only closes, it does not reopen at once.
    setAttribute(Qt::WA_NoMouseReplay);
    m_text->setMaxLines(0);
    m_text->setText(text);
    m_text->setFixedWidth(kTextWidth);
    m_text->setFixedHeight(m_text->heightForWidth(kTextWidth));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding + kArrow);
    layout->addWidget(m_text);
    setFixedSize(kTextWidth + 2 * kPadding, m_text->height() + 2 * kPadding + kArrow);
}

void HelpPopover::popUpAbove(QWidget* anchor) {
    const QPoint anchorTop = anchor->mapToGlobal(QPoint(anchor->width() / 2, 0));
    QPoint topLeft(anchorTop.x() - width() / 2, anchorTop.y() - height() - 2);
    if (const QScreen* screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(),
                                                                  area.right() - width())));
    }
    m_arrowX = anchorTop.x() - topLeft.x();
    move(topLeft);
    show();
}

void HelpPopover::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit closed();
}

void HelpPopover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(0.5, 0.5, width() - 1.0, height() - kArrow - 1.0);
    QPainterPath path;
    path.addRoundedRect(body, 8, 8);
    const double x = std::clamp(static_cast<double>(m_arrowX), 16.0, width() - 16.0);
    QPainterPath arrow;
    arrow.moveTo(x - kArrow, body.bottom() - 1);
    arrow.lineTo(x, body.bottom() + kArrow - 1);
    arrow.lineTo(x + kArrow, body.bottom() - 1);
    arrow.closeSubpath();
    painter.setPen(QPen(Palette::line(), 1));
    painter.setBrush(Qt::white);
    painter.drawPath(path.united(arrow));
}

} // namespace orvane
