#pragma once

#include <QList>
#include <QWidget>

namespace orvane {

class AppState;
class ContentScrollArea;
class FitLabel;
class PageHeader;
class PlanRow;

// The plans page: what the account may use now, the plans with a purchase button each and
// the three most recent orders.
class PlansView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShownOrders = 3;

    explicit PlansView(AppState& state, QWidget* parent = nullptr);

    // "当前：" and the plan name, or "未开通套餐" with nobody signed in.
    QString pillText() const;
    QList<PlanRow*> planRows() const;
    // Absent, not empty, without orders.
    QWidget* ordersCard() const { return m_orders; }
    int orderRowCount() const;

private:
    void refreshAccount();
    void refreshPlans();
    void refreshOrders();

    AppState& m_state;
    ContentScrollArea* m_scroll;
    PageHeader* m_header;
    QString m_pillText;
    FitLabel* m_access;
    FitLabel* m_deviceLimit;
    QWidget* m_plans;
    QWidget* m_orders;
    QWidget* m_orderRows;
};

} // namespace orvane
