#include "DeviceRow.h"

#include "CapsuleButton.h"
#include "FitLabel.h"
#include "Palette.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

DeviceRow::DeviceRow(QWidget* parent)
    : PanelFrame(false, parent), m_platform(new FitLabel(12, Palette::muted(), this)),
      m_name(new FitLabel(14, Palette::ink(), this)),
      m_connection(new FitLabel(11, Palette::muted(), this)),
      m_button(new CapsuleButton(QString(), CapsuleButton::Style::secondary, this)) {
    setColors(Palette::soft2(), Palette::lineSoft());
    m_name->setMaxLines(2);
    m_name->setMinimumScale(0.86);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(m_platform);
    texts->addWidget(m_name);
    texts->addWidget(m_connection);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(11, 11, 11, 11);
    row->setSpacing(10);
    row->addLayout(texts, 1);
    row->addWidget(m_button, 0, Qt::AlignVCenter);
    connect(m_button, &QAbstractButton::clicked, this, [this] { emit actionClicked(m_device); });
}

void DeviceRow::setDevice(const Device& device) {
    m_device = device;
    m_platform->setText(device.platform);
    m_name->setText(device.name);
    m_connection->setText(device.isOnline ? QStringLiteral("正在使用") : QStringLiteral("未连接"));
    m_connection->setColor(device.isOnline ? Palette::green() : Palette::muted());
    m_button->setText(device.action);
    m_button->updateGeometry();
    m_button->setEnabled(!device.isCurrent);
}

QString DeviceRow::connectionText() const {
    return m_connection->text();
}

} // namespace orvane
