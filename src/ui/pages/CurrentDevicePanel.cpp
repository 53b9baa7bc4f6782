#include "CurrentDevicePanel.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "FitLabel.h"
#include "MetricCard.h"
#include "Palette.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

CurrentDevicePanel::CurrentDevicePanel(AppState& state, QWidget* parent)
    : PanelFrame(true, parent), m_state(state), m_name(new FitLabel(17, Palette::ink(), this)),
      m_system(new MetricCard(QStringLiteral("系统"), QStringLiteral("macOS"), this)),
      m_version(new MetricCard(QStringLiteral("版本"), state.appVersion(), this)),
      m_status(new MetricCard(QStringLiteral("状态"), QString(), this)),
      m_lastLogin(new MetricCard(QStringLiteral("最后登录"), QString(), this)) {
    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(QStringLiteral("当前设备"));
    m_name->setMaxLines(2);
    m_name->setMinimumScale(0.82);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(caption);
    texts->addWidget(m_name);
    auto* refreshButton =
        new CapsuleButton(QStringLiteral("刷新"), CapsuleButton::Style::primary, this);
    auto* header = new QHBoxLayout;
    header->addLayout(texts, 1);
    header->addWidget(refreshButton, 0, Qt::AlignTop);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    grid->addWidget(m_system, 0, 0);
    grid->addWidget(m_version, 0, 1);
    grid->addWidget(m_status, 1, 0);
    grid->addWidget(m_lastLogin, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    for (MetricCard* card : {m_system, m_version, m_status, m_lastLogin}) {
        card->setMinimumWidth(10);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(11);
    layout->addLayout(header);
    layout->addLayout(grid);
    layout->addStretch(1);
    setMinimumHeight(kMinimumHeight);

    connect(refreshButton, &QAbstractButton::clicked, this,
            [this] { m_state.spawn(m_state.refreshPrivateData()); });
    connect(&state, &AppState::accountChanged, this, &CurrentDevicePanel::refresh);
    refresh();
}

QString CurrentDevicePanel::nameText() const {
    return m_name->text();
}

QString CurrentDevicePanel::figuresText() const {
    return m_system->value() + QLatin1Char('|') + m_version->value() + QLatin1Char('|') +
           m_status->value() + QLatin1Char('|') + m_lastLogin->value();
}

void CurrentDevicePanel::refresh() {
    const auto& device = m_state.currentDevice();
    m_name->setText(device ? device->name : QStringLiteral("等待绑定"));
    m_status->setValue(device ? device->status : QStringLiteral("未绑定"));
    m_lastLogin->setValue(device ? device->lastLogin : QStringLiteral("-"));
}

} // namespace orvane
