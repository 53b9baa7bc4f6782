#include "NodeRow.h"

#include "ConnectionLabels.h"
#include "FitLabel.h"
#include "NodeStatusPill.h"
#include "Palette.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

NodeRow::NodeRow(QWidget* parent)
    : ClickableCard(parent), m_region(new FitLabel(12, Palette::muted(), this)),
      m_detail(new FitLabel(14, Palette::ink(), this)),
      m_status(new NodeStatusPill(NodeStatus::offline, this)) {
    m_detail->setMaxLines(2);
    m_detail->setMinimumScale(0.82);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(5);
    texts->addWidget(m_region);
    texts->addWidget(m_detail);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(11, 11, 11, 11);
    row->setSpacing(10);
    row->addLayout(texts, 1);
    row->addWidget(m_status, 0, Qt::AlignVCenter);
    setCursor(Qt::PointingHandCursor);
    letClicksThrough();
    setColors(Palette::soft2(), Palette::lineSoft());
}

void NodeRow::setEndpoint(const Endpoint& endpoint, bool selected) {
    m_endpoint = endpoint;
    m_selected = selected;
    m_region->setText(endpoint.region);
    const QString separator = QStringLiteral(" · ");
    // A no-break space: the number never wraps away from its unit.
    const QString latency = endpoint.latencyMs >= 1
                                ? QString::number(endpoint.latencyMs) + QStringLiteral("\u00A0ms")
                                : QStringLiteral("检测中");
    m_detail->setRuns({
        {endpoint.name + separator + protocolLabel(endpoint.preferredProtocol) + separator,
         Palette::ink()},
        {latency, Palette::green()},
        {separator + QString::number(endpoint.loadPercent) + QStringLiteral("%"), Palette::ink()},
    });
    m_status->setStatus(endpoint.status);
    if (selected) {
        setColors(Qt::white, Palette::black());
    } else {
        setColors(Palette::soft2(), Palette::lineSoft());
    }
}

} // namespace orvane
