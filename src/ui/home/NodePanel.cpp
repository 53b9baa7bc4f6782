#include "NodePanel.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "ContentScrollArea.h"
#include "FitLabel.h"
#include "NodeRow.h"
#include "Palette.h"
#include "PanelHeading.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
// Expanded, one row stays in view however short the column gets; collapsed, both rows do.
constexpr int kMinimumListHeight = 90;
constexpr int kWholeList = QWIDGETSIZE_MAX;
} // namespace

NodePanel::NodePanel(AppState& state, QWidget* parent)
    : PanelFrame(true, parent), m_state(state),
      m_refresh(new CapsuleButton(QStringLiteral("刷新"), CapsuleButton::Style::primary, this)),
      m_expand(new CapsuleButton(QString(), CapsuleButton::Style::secondary, this)),
      m_rowsBox(new QWidget) {
    QHBoxLayout* header =
        PanelHeading::make(this, QStringLiteral("当前线路"), QStringLiteral("智能推荐"), m_refresh);

    auto* rowsLayout = new QVBoxLayout(m_rowsBox);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(11);
    m_scroll = new ContentScrollArea(m_rowsBox, kMinimumListHeight, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(11);
    layout->addLayout(header);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(m_expand, 0, Qt::AlignHCenter);

    connect(m_refresh, &QAbstractButton::clicked, this,
            [this] { m_state.spawn(m_state.refreshPublicData()); });
    connect(m_expand, &QAbstractButton::clicked, this,
            [this] { m_state.setNodesExpanded(!m_state.nodesExpanded()); });
    connect(&state, &AppState::endpointsChanged, this, &NodePanel::refreshRows);
    connect(&state, &AppState::selectedEndpointChanged, this, &NodePanel::refreshRows);
    connect(&state, &AppState::panelsChanged, this, &NodePanel::refreshRows);
    refreshRows();
}

QList<NodeRow*> NodePanel::rows() const {
    QList<NodeRow*> visible;
    for (NodeRow* row : m_rows) {
        if (!row->isHidden()) {
            visible.append(row);
        }
    }
    return visible;
}

void NodePanel::refreshRows() {
    m_expand->setText(m_state.nodesExpanded() ? QStringLiteral("收起节点")
                                              : QStringLiteral("展开全部节点"));
    m_expand->updateGeometry();
    const QList<Endpoint> endpoints = m_state.visibleEndpoints();
    const Endpoint selected = m_state.selectedEndpoint();
    auto* rowsLayout = static_cast<QVBoxLayout*>(m_rowsBox->layout());
    while (m_rows.size() < endpoints.size()) {
        auto* row = new NodeRow(m_rowsBox);
        // The row reads its endpoint at the click, so one row can show any node.
        connect(row, &QAbstractButton::clicked, this,
                [this, row] { m_state.selectEndpointFromMenu(row->endpoint()); });
        rowsLayout->addWidget(row);
        m_rows.append(row);
    }
    // Extra rows are hidden, not deleted: one of them may be the row being clicked.
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        NodeRow* row = m_rows.at(i);
        if (i < endpoints.size()) {
            row->setEndpoint(endpoints.at(i), endpoints.at(i) == selected);
            row->show();
        } else {
            row->hide();
        }
    }
    m_scroll->setVisible(!endpoints.isEmpty());
    m_scroll->setFloor(m_state.nodesExpanded() ? kMinimumListHeight : kWholeList);
    m_scroll->contentChanged();
}

} // namespace orvane
