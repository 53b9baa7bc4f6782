#include "ConnectionPanel.h"

#include "AppState.h"
#include "ConnectButton.h"
#include "ConnectionLabels.h"
#include "FitLabel.h"
#include "MetricCard.h"
#include "Palette.h"
#include "Pill.h"
#include "SegmentedControl.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

ConnectionPanel::ConnectionPanel(AppState& state, Clock now, QWidget* parent)
    : QWidget(parent), m_state(state),
      m_now(now ? std::move(now) : Clock([] { return QDateTime::currentDateTimeUtc(); })),
      m_status(new FitLabel(44, Palette::ink(), this)),
      m_plan(new Pill(QString(), Palette::green(), Palette::greenSoft(), this)),
      m_connect(new ConnectButton(this)), m_note(new FitLabel(12, Palette::muted(), this)),
      m_node(new MetricCard(QStringLiteral("当前节点"), QString(), this)),
      m_latency(new MetricCard(QStringLiteral("延迟"), QString(), this)),
      m_access(new MetricCard(QStringLiteral("剩余流量 / 到期时间"), QString(), this)),
      m_duration(new MetricCard(QStringLiteral("连接时长"), QString(), this)) {
    QStringList titles;
    for (OutboundMode mode : homeModes()) {
        titles << outboundModeTitle(mode);
    }
    m_modes = new SegmentedControl(titles, this);

    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(QStringLiteral("连接状态"));
    m_status->setMinimumScale(0.6);
    auto* titleStack = new QVBoxLayout;
    titleStack->setSpacing(6);
    titleStack->addWidget(caption);
    titleStack->addWidget(m_status);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 12);
    header->addLayout(titleStack, 1);
    m_plan->setMaximumWidth(Pill::kHeaderMaximumWidth);
    header->addWidget(m_plan, 0, Qt::AlignTop);

    m_note->setMaxLines(2);
    m_note->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    grid->addWidget(m_node, 0, 0);
    grid->addWidget(m_latency, 0, 1);
    grid->addWidget(m_access, 1, 0);
    grid->addWidget(m_duration, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(m_modes);
    layout->addStretch(1);
    layout->addSpacing(16);
    layout->addWidget(m_connect, 0, Qt::AlignHCenter);
    layout->addSpacing(24);
    layout->addWidget(m_note);
    layout->addSpacing(12);
    layout->addStretch(1);
    layout->addLayout(grid);

    connect(m_connect, &QAbstractButton::clicked, this,
            [this] { m_state.spawn(m_state.toggleConnection()); });
    connect(m_modes, &SegmentedControl::segmentClicked, this,
            [this](int index) { m_state.setOutboundMode(homeModes().at(index)); });
    connect(&state, &AppState::connectionStateChanged, this, &ConnectionPanel::refreshConnection);
    connect(&state, &AppState::connectionDetailsChanged, this, &ConnectionPanel::refreshConnection);
    connect(&state, &AppState::busyChanged, this, &ConnectionPanel::refreshConnection);
    connect(&state, &AppState::endpointsChanged, this, &ConnectionPanel::refreshEndpoint);
    connect(&state, &AppState::selectedEndpointChanged, this, &ConnectionPanel::refreshEndpoint);
    connect(&state, &AppState::accountChanged, this, &ConnectionPanel::refreshAccount);
    connect(&state, &AppState::preferencesChanged, this, &ConnectionPanel::refreshModes);
    refreshConnection();
    refreshEndpoint();
    refreshAccount();
    refreshModes();

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ConnectionPanel::tick);
    m_timer.start();
}

const QList<OutboundMode>& ConnectionPanel::homeModes() {
    static const QList<OutboundMode> modes{OutboundMode::smart, OutboundMode::enhanced};
    return modes;
}

QString ConnectionPanel::durationText(const std::optional<QDateTime>& connectedAt,
                                      const QDateTime& now) {
    if (!connectedAt) {
        return QStringLiteral("--:--");
    }
    const qint64 seconds = std::max<qint64>(0, connectedAt->msecsTo(now) / 1000);
    return QStringLiteral("%1:%2")
        .arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString ConnectionPanel::connectButtonTitle(const ConnectionState& state) {
    using C = ConnectionState::Case;
    switch (state.stateCase()) {
    case C::preparing:
        return QStringLiteral("正在连接");
    case C::connected:
        return QStringLiteral("断开连接");
    case C::disconnecting:
        return QStringLiteral("正在断开");
    case C::repairing:
        return QStringLiteral("正在修复");
    case C::disconnected:
    case C::configReady:
    case C::failed:
        break;
    }
    return QStringLiteral("一键连接");
}

void ConnectionPanel::tick() {
    m_duration->setValue(durationText(m_state.connectedAt(), m_now()));
}

void ConnectionPanel::refreshConnection() {
    const ConnectionState& connection = m_state.connectionState();
    m_status->setText(m_state.statusTitle());
    m_connect->setText(connectButtonTitle(connection));
    m_connect->setConnected(connection.stateCase() == ConnectionState::Case::connected);
    m_connect->setEnabled(!m_state.isBusy());
    m_note->setText(m_state.connectionNote());
    tick();
}

void ConnectionPanel::refreshEndpoint() {
    const Endpoint endpoint = m_state.selectedEndpoint();
    m_node->setValue(endpoint.region);
    m_latency->setValue(QString::number(endpoint.latencyMs) + QStringLiteral("\u00A0ms"));
}

void ConnectionPanel::refreshAccount() {
    m_plan->setText(m_state.planPillText());
    m_access->setValue(m_state.accessSummary());
}

void ConnectionPanel::refreshModes() {
    m_modes->setSelectedIndex(static_cast<int>(homeModes().indexOf(m_state.outboundMode())));
}

} // namespace orvane
