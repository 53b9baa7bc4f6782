#include "RouteEndpointCard.h"

#include "ConnectionLabels.h"
#include "FitLabel.h"
#include "NodeStatusPill.h"
#include "Palette.h"
#include "PanelFrame.h"
#include "SymbolIcon.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace orvane {

namespace {
// A titled figure on white inside the card; the value shrinks to 78 % before it elides.
FitLabel* addMetric(QHBoxLayout* row, const QString& title, QWidget* parent) {
    auto* box = new PanelFrame(false, parent);
    box->setColors(Qt::white, Qt::transparent);
    auto* titleLabel = new FitLabel(10, Palette::muted(), box);
    titleLabel->setText(title);
    auto* value = new FitLabel(13, Palette::ink(), box);
    value->setMinimumScale(0.78);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(4);
    layout->addWidget(titleLabel);
    layout->addWidget(value);
    row->addWidget(box, 1);
    return value;
}
} // namespace

RouteEndpointCard::RouteEndpointCard(QWidget* parent)
    : ClickableCard(parent), m_region(new FitLabel(12, Palette::muted(), this)),
      m_name(new FitLabel(18, Palette::ink(), this)),
      m_check(new SymbolIcon(SymbolIcon::Kind::checkmarkCircle, Palette::green(), this)),
      m_status(new NodeStatusPill(NodeStatus::offline, this)),
      m_footer(new FitLabel(12, Palette::muted(), this)) {
    m_name->setMaxLines(2);
    m_check->setFixedSize(20, 20);
    auto* names = new QVBoxLayout;
    names->setSpacing(5);
    names->addWidget(m_region);
    names->addWidget(m_name);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    top->addLayout(names, 1);
    top->addWidget(m_check, 0, Qt::AlignTop);
    top->addWidget(m_status, 0, Qt::AlignTop);

    auto* figures = new QHBoxLayout;
    figures->setSpacing(8);
    m_protocol = addMetric(figures, QStringLiteral("协议"), this);
    m_latency = addMetric(figures, QStringLiteral("延迟"), this);
    m_latency->setColor(Palette::green());
    m_load = addMetric(figures, QStringLiteral("负载"), this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addLayout(top);
    layout->addLayout(figures);
    layout->addWidget(m_footer);
    layout->addStretch(1);
    setCursor(Qt::PointingHandCursor);
    letClicksThrough();
}

QString RouteEndpointCard::latencyText(const Endpoint& endpoint) {
    return endpoint.latencyMs >= 1 ? QString::number(endpoint.latencyMs) + QStringLiteral(" ms")
                                   : QStringLiteral("检测中");
}

QString RouteEndpointCard::latencyText() const {
    return m_latency->text();
}

QString RouteEndpointCard::footerText() const {
    return m_footer->text();
}

void RouteEndpointCard::setEndpoint(const Endpoint& endpoint, bool selected) {
    m_endpoint = endpoint;
    m_selected = selected;
    m_region->setText(endpoint.region);
    m_name->setText(endpoint.name);
    m_check->setVisible(selected);
    m_status->setVisible(!selected);
    m_status->setStatus(endpoint.status);
    m_protocol->setText(protocolLabel(endpoint.preferredProtocol));
    m_latency->setText(latencyText(endpoint));
    m_load->setText(QString::number(endpoint.loadPercent) + QStringLiteral("%"));
    m_footer->setText(selected ? QStringLiteral("当前使用") : QStringLiteral("点击切换"));
    m_footer->setColor(selected ? Palette::green() : Palette::muted());
    setColors(selected ? QColor(Qt::white) : Palette::soft2(),
              selected ? Palette::black() : Palette::lineSoft());
}

// The selected card's outline is 2 px wide.
void RouteEndpointCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double width = m_selected ? 2 : 1;
    const double inset = width / 2;
    painter.setPen(QPen(m_selected ? Palette::black() : Palette::lineSoft(), width));
    painter.setBrush(m_selected ? QColor(Qt::white) : Palette::soft2());
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 8, 8);
}

} // namespace orvane
