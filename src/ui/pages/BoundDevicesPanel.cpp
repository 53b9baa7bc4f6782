#include "BoundDevicesPanel.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "DeviceRow.h"
#include "FitLabel.h"
#include "Palette.h"

#include <QVBoxLayout>

namespace orvane {

BoundDevicesPanel::BoundDevicesPanel(AppState& state, QWidget* parent)
    : PanelFrame(true, parent), m_state(state), m_usage(new FitLabel(17, Palette::ink(), this)),
      m_rowsBox(new QWidget(this)),
      m_expand(new CapsuleButton(QString(), CapsuleButton::Style::secondary, this)) {
    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(QStringLiteral("已绑定设备"));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(caption);
    texts->addWidget(m_usage);
    auto* rowsLayout = new QVBoxLayout(m_rowsBox);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(11);
    m_expand->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(11);
    layout->addLayout(texts);
    layout->addWidget(m_rowsBox);
    layout->addWidget(m_expand);
    layout->addStretch(1);
    setMinimumHeight(kMinimumHeight);

    connect(m_expand, &QAbstractButton::clicked, this,
            [this] { m_state.setDevicesExpanded(!m_state.devicesExpanded()); });
    connect(&state, &AppState::accountChanged, this, &BoundDevicesPanel::refresh);
    connect(&state, &AppState::devicesChanged, this, &BoundDevicesPanel::refresh);
    connect(&state, &AppState::panelsChanged, this, &BoundDevicesPanel::refresh);
    refresh();
}

QList<DeviceRow*> BoundDevicesPanel::rows() const {
    QList<DeviceRow*> shown;
    for (DeviceRow* row : m_rows) {
        if (!row->isHidden()) {
            shown.append(row);
        }
    }
    return shown;
}

QString BoundDevicesPanel::usageText() const {
    return m_usage->text();
}

void BoundDevicesPanel::refresh() {
    m_usage->setText(m_state.deviceUsage());
    m_expand->setText(m_state.devicesExpanded() ? QStringLiteral("收起设备")
                                                : QStringLiteral("展开全部设备"));
    const QList<Device> devices = m_state.visibleDevices();
    while (m_rows.size() < devices.size()) {
        auto* row = new DeviceRow(m_rowsBox);
        connect(row, &DeviceRow::actionClicked, this,
                [this](const Device& device) { m_state.spawn(m_state.unbindDevice(device)); });
        m_rowsBox->layout()->addWidget(row);
        m_rows.append(row);
    }
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (i < devices.size()) {
            m_rows.at(i)->setDevice(devices.at(i));
            m_rows.at(i)->show();
        } else {
            m_rows.at(i)->hide();
        }
    }
    m_rowsBox->setVisible(!devices.isEmpty());
}

} // namespace orvane
