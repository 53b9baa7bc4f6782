#include "SidebarButton.h"

#include "AppState.h"
#include "Palette.h"
#include "Typography.h"

#include <QPainter>

namespace orvane {

SidebarButton::SidebarButton(AppState& state, AppPage page, QWidget* parent)
    : QAbstractButton(parent), m_state(state), m_page(page) {
    setText(title(page));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { m_state.setSelectedPage(m_page); });
    connect(&state, &AppState::selectedPageChanged, this, qOverload<>(&QWidget::update));
}

QString SidebarButton::title(AppPage page) {
    switch (page) {
    case AppPage::home:
        return QStringLiteral("首页");
    case AppPage::routes:
        return QStringLiteral("线路");
    case AppPage::plans:
        return QStringLiteral("套餐");
    case AppPage::invite:
        return QStringLiteral("邀请");
    case AppPage::settings:
        break;
    }
    return QStringLiteral("设置");
}

SymbolIcon::Kind SidebarButton::icon(AppPage page) {
    switch (page) {
    case AppPage::home:
        return SymbolIcon::Kind::home;
    case AppPage::routes:
        return SymbolIcon::Kind::routes;
    case AppPage::plans:
        return SymbolIcon::Kind::cart;
    case AppPage::invite:
        return SymbolIcon::Kind::gift;
    case AppPage::settings:
        break;
    }
    return SymbolIcon::Kind::person;
}

bool SidebarButton::isSelectedPage() const {
    return m_state.selectedPage() == m_page;
}

QSize SidebarButton::sizeHint() const {
    return {180, 52};
}

void SidebarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool selected = isSelectedPage();
    if (selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    const QColor foreground = selected ? Palette::black() : Palette::withOpacity(Qt::white, 0.72);
    // The home glyph fills its 28 px box; the others are drawn a little smaller, like a
    // 20 px symbol in the same box.
    const QRectF iconBox(14, (height() - 28) / 2.0, 28, 28);
    const double inset = m_page == AppPage::home ? 0 : 3;
    SymbolIcon::paint(painter, icon(m_page), iconBox.adjusted(inset, inset, -inset, -inset),
                      foreground);
    painter.setFont(Typography::font(16));
    painter.setPen(foreground);
    painter.drawText(QRectF(14 + 28 + 12, 0, width() - 14 - 28 - 12 - 14, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

} // namespace orvane
