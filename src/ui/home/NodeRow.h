#pragma once

#include "ClickableCard.h"
#include "Endpoint.h"

namespace orvane {

class FitLabel;
class NodeStatusPill;

// One node: region over "name · protocol · latency · load", its status capsule at the
// trailing edge. The whole row is one button; selection shows by fill and outline alone.
class NodeRow : public ClickableCard {
    Q_OBJECT
public:
    explicit NodeRow(QWidget* parent = nullptr);

    void setEndpoint(const Endpoint& endpoint, bool selected);
    const Endpoint& endpoint() const { return m_endpoint; }
    bool isSelectedRow() const { return m_selected; }
    FitLabel* detailLabel() const { return m_detail; }

private:
    Endpoint m_endpoint;
    bool m_selected = false;
    FitLabel* m_region;
    FitLabel* m_detail;
    NodeStatusPill* m_status;
};

} // namespace orvane
