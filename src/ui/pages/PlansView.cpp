#include "PlansView.h"

#include "AppState.h"
#include "ContentScrollArea.h"
#include "FitLabel.h"
#include "PageHeader.h"
#include "Palette.h"
#include "PanelFrame.h"
#include "Pill.h"
#include "PlanRow.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
// Rows go with a queued delete: one of them may be running its own click.
void clearRows(QWidget* box) {
    for (QWidget* row : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        row->hide();
        box->layout()->removeWidget(row);
        row->deleteLater();
    }
}

QWidget* makeOrderRow(const Order& order, QWidget* parent) {
    auto* row = new PanelFrame(false, parent);
    row->setColors(Palette::soft2(), Qt::transparent);
    auto* title = new FitLabel(14, Palette::ink(), row);
    title->setText(order.title);
    auto* amount = new FitLabel(13, Palette::muted(), row);
    amount->setText(order.amount);
    amount->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addWidget(title, 1, Qt::AlignVCenter);
    layout->addWidget(amount, 0, Qt::AlignVCenter);
    layout->addWidget(new Pill(order.status, Palette::blue(), Palette::blueSoft(), row), 0,
                      Qt::AlignVCenter);
    return row;
}
} // namespace

PlansView::PlansView(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_access(new FitLabel(22, Palette::ink())),
      m_deviceLimit(new FitLabel(13, Palette::muted())), m_plans(new QWidget),
      m_orders(new PanelFrame(true)), m_orderRows(new QWidget) {
    auto* content = new QWidget;
    m_header =
        new PageHeader(QStringLiteral("套餐购买"), QStringLiteral("选择套餐"), QString(), content);

    auto* summary = new PanelFrame(false, content);
    summary->setColors(Palette::soft2(), Palette::lineSoft());
    m_access->setParent(summary);
    m_access->setMaxLines(2);
    m_access->setMinimumScale(0.7);
    m_deviceLimit->setParent(summary);
    m_deviceLimit->setWeight(QFont::Normal);
    m_deviceLimit->setMaxLines(0);
    auto* summaryLayout = new QVBoxLayout(summary);
    summaryLayout->setContentsMargins(16, 16, 16, 16);
    summaryLayout->setSpacing(5);
    summaryLayout->addWidget(m_access);
    summaryLayout->addWidget(m_deviceLimit);

    m_plans->setParent(content);
    auto* plansLayout = new QVBoxLayout(m_plans);
    plansLayout->setContentsMargins(0, 0, 0, 0);
    plansLayout->setSpacing(12);

    m_orders->setParent(content);
    m_orderRows->setParent(m_orders);
    auto* rowsLayout = new QVBoxLayout(m_orderRows);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(10);
    auto* caption = new FitLabel(12, Palette::muted(), m_orders);
    caption->setText(QStringLiteral("最近订单"));
    auto* ordersLayout = new QVBoxLayout(m_orders);
    ordersLayout->setContentsMargins(16, 16, 16, 16);
    ordersLayout->setSpacing(10);
    ordersLayout->addWidget(caption);
    ordersLayout->addWidget(m_orderRows);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(m_header);
    layout->addWidget(summary);
    layout->addWidget(m_plans);
    layout->addWidget(m_orders);
    layout->addStretch(1);

    m_scroll = new ContentScrollArea(content, 0, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll);

    connect(&state, &AppState::accountChanged, this, &PlansView::refreshAccount);
    connect(&state, &AppState::plansChanged, this, &PlansView::refreshPlans);
    connect(&state, &AppState::ordersChanged, this, &PlansView::refreshOrders);
    refreshAccount();
    refreshPlans();
    refreshOrders();
}

QString PlansView::pillText() const {
    return m_pillText;
}

QList<PlanRow*> PlansView::planRows() const {
    QList<PlanRow*> rows;
    for (PlanRow* row : m_plans->findChildren<PlanRow*>(Qt::FindDirectChildrenOnly)) {
        if (!row->isHidden()) {
            rows.append(row);
        }
    }
    return rows;
}

int PlansView::orderRowCount() const {
    int count = 0;
    for (QWidget* row : m_orderRows->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        count += row->isHidden() ? 0 : 1;
    }
    return count;
}

void PlansView::refreshAccount() {
    const auto& user = m_state.currentUser();
    m_pillText = QStringLiteral("当前：") + (user ? user->planName : QStringLiteral("未开通套餐"));
    m_header->setPillText(m_pillText);
    m_access->setText(m_state.accessSummary());
    m_deviceLimit->setText(QStringLiteral("当前账号最多可绑定 ") +
                           QString::number(m_state.maxDevices()) + QStringLiteral(" 台设备。"));
    m_scroll->contentChanged();
}

void PlansView::refreshPlans() {
    clearRows(m_plans);
    for (const Plan& plan : m_state.plans()) {
        auto* row = new PlanRow(plan, m_plans);
        connect(row, &PlanRow::purchaseClicked, this,
                [this, plan] { m_state.spawn(m_state.purchase(plan)); });
        m_plans->layout()->addWidget(row);
    }
    m_scroll->contentChanged();
}

void PlansView::refreshOrders() {
    clearRows(m_orderRows);
    const QList<Order> orders = m_state.orders();
    for (qsizetype i = 0; i < std::min<qsizetype>(orders.size(), kShownOrders); ++i) {
        m_orderRows->layout()->addWidget(makeOrderRow(orders.at(i), m_orderRows));
    }
    m_orders->setVisible(!orders.isEmpty());
    m_scroll->contentChanged();
}

} // namespace orvane
