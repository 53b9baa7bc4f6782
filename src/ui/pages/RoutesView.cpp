#include "RoutesView.h"

#include "AdaptiveGridLayout.h"
#include "AppState.h"
#include "CapsuleButton.h"
#include "ConnectionLabels.h"
#include "ContentScrollArea.h"
#include "FitLabel.h"
#include "ModeButton.h"
#include "Palette.h"
#include "PanelFrame.h"
#include "RouteEndpointCard.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
FitLabel* makeLabel(int size, const QColor& color, const QString& text, QWidget* parent) {
    auto* label = new FitLabel(size, color, parent);
    label->setText(text);
    return label;
}

// A titled value box of the summary row.
FitLabel* addSettingPill(QHBoxLayout* row, const QString& title, QWidget* parent) {
    auto* box = new PanelFrame(false, parent);
    box->setColors(Qt::white, Palette::line());
    auto* value = new FitLabel(14, Palette::ink(), box);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(4);
    layout->addWidget(makeLabel(11, Palette::muted(), title, box));
    layout->addWidget(value);
    row->addWidget(box, 1);
    return value;
}
} // namespace

RoutesView::RoutesView(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_empty(new PanelFrame(false)), m_gridBox(new QWidget),
      m_grid(new AdaptiveGridLayout(kMinimumCardWidth, kGridSpacing, m_gridBox)) {
    auto* content = new QWidget;
    m_empty->setParent(content);
    m_gridBox->setParent(content);

    auto* description = makeLabel(
        13, Palette::muted(),
        QStringLiteral("菜单栏、首页和这里共用同一个当前线路。选择节点后，已连接状态会自动重载"
                       "配置，后续流量走所选节点。"),
        content);
    description->setMaxLines(0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(makeLabel(12, Palette::muted(), QStringLiteral("线路"), content));
    texts->addWidget(makeLabel(34, Palette::ink(), QStringLiteral("当前节点选择"), content));
    texts->addWidget(description);
    auto* refresh =
        new CapsuleButton(QStringLiteral("刷新节点"), CapsuleButton::Style::primary, content);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addLayout(texts, 1);
    header->addWidget(refresh, 0, Qt::AlignTop);

    auto* summary = new QHBoxLayout;
    summary->setSpacing(10);
    m_modeValue = addSettingPill(summary, QStringLiteral("出站模式"), content);
    m_nodeValue = addSettingPill(summary, QStringLiteral("当前线路"), content);
    m_latencyValue = addSettingPill(summary, QStringLiteral("延迟"), content);

    auto* modes = new QHBoxLayout;
    modes->setSpacing(10);
    for (OutboundMode mode : allOutboundModes()) {
        auto* button = new ModeButton(outboundModeTitle(mode), content);
        connect(button, &QAbstractButton::clicked, this,
                [this, mode] { m_state.setOutboundMode(mode); });
        m_modes.append(button);
        modes->addWidget(button, 1);
    }

    static_cast<PanelFrame*>(m_empty)->setColors(Palette::soft2(), Palette::lineSoft());
    m_empty->setMinimumHeight(120);
    auto* emptyText = makeLabel(13, Palette::muted(),
                                QStringLiteral("暂无可用节点，请刷新节点或稍后重试。"), m_empty);
    emptyText->setMaxLines(0);
    emptyText->setAlignment(Qt::AlignCenter);
    auto* emptyLayout = new QVBoxLayout(m_empty);
    emptyLayout->setContentsMargins(14, 14, 14, 14);
    emptyLayout->addWidget(emptyText, 0, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addLayout(header);
    layout->addLayout(summary);
    layout->addLayout(modes);
    layout->addWidget(m_empty);
    layout->addWidget(m_gridBox);
    layout->addStretch(1);

    m_scroll = new ContentScrollArea(content, 0, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll);

    connect(refresh, &QAbstractButton::clicked, this,
            [this] { m_state.spawn(m_state.refreshPublicData()); });
    connect(&state, &AppState::preferencesChanged, this, &RoutesView::refreshModes);
    connect(&state, &AppState::endpointsChanged, this, &RoutesView::refreshNodes);
    connect(&state, &AppState::selectedEndpointChanged, this, &RoutesView::refreshNodes);
    refreshModes();
    refreshNodes();
}

QList<RouteEndpointCard*> RoutesView::cards() const {
    QList<RouteEndpointCard*> shown;
    for (RouteEndpointCard* card : m_cards) {
        if (!card->isHidden()) {
            shown.append(card);
        }
    }
    return shown;
}

QString RoutesView::summaryText() const {
    return m_modeValue->text() + QLatin1Char('|') + m_nodeValue->text() + QLatin1Char('|') +
           m_latencyValue->text();
}

void RoutesView::refreshModes() {
    const OutboundMode current = m_state.outboundMode();
    m_modeValue->setText(outboundModeTitle(current));
    for (qsizetype i = 0; i < m_modes.size(); ++i) {
        m_modes.at(i)->setCurrent(allOutboundModes().at(i) == current);
    }
}

void RoutesView::refreshNodes() {
    const Endpoint selected = m_state.selectedEndpoint();
    m_nodeValue->setText(selected.region + QLatin1Char(' ') + selected.name);
    m_latencyValue->setText(RouteEndpointCard::latencyText(selected));

    const QList<Endpoint> endpoints = m_state.endpoints();
    while (m_cards.size() < endpoints.size()) {
        auto* card = new RouteEndpointCard(m_gridBox);
        connect(card, &QAbstractButton::clicked, this,
                [this, card] { m_state.selectEndpointFromMenu(card->endpoint()); });
        m_grid->addWidget(card);
        m_cards.append(card);
    }
    for (qsizetype i = 0; i < m_cards.size(); ++i) {
        RouteEndpointCard* card = m_cards.at(i);
        if (i < endpoints.size()) {
            card->setEndpoint(endpoints.at(i), endpoints.at(i) == selected);
            card->show();
        } else {
            card->hide();
        }
    }
    m_empty->setVisible(endpoints.isEmpty());
    m_gridBox->setVisible(!endpoints.isEmpty());
    m_grid->invalidate();
    m_scroll->contentChanged();
}

} // namespace orvane
