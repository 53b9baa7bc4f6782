#pragma once

#include "ClickableCard.h"
#include "Endpoint.h"

#include <QList>

namespace orvane {

class FitLabel;
class NodeStatusPill;
class SymbolIcon;

// One node of the routes page: region and name, a check mark or the status, three figures
// and a footer; the whole card is one button. The card reads its node at the click, so one
// card can show any node.
class RouteEndpointCard : public ClickableCard {
    Q_OBJECT
public:
    explicit RouteEndpointCard(QWidget* parent = nullptr);

    void setEndpoint(const Endpoint& endpoint, bool selected);
    const Endpoint& endpoint() const { return m_endpoint; }
    bool isSelected() const { return m_selected; }
    QString latencyText() const;
    QString footerText() const;

    // "12 ms" from 1 ms on, else "检测中".
    static QString latencyText(const Endpoint& endpoint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Endpoint m_endpoint;
    bool m_selected = false;
    FitLabel* m_region;
    FitLabel* m_name;
    SymbolIcon* m_check;
    NodeStatusPill* m_status;
    FitLabel* m_protocol;
    FitLabel* m_latency;
    FitLabel* m_load;
    FitLabel* m_footer;
};

} // namespace orvane
