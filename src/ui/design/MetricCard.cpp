#include "MetricCard.h"

#include "FitLabel.h"
#include "Palette.h"
#include "PanelFrame.h"

#include <QPainter>
#include <QVBoxLayout>

namespace orvane {

MetricCard::MetricCard(const QString& title, const QString& value, QWidget* parent)
    : QWidget(parent), m_title(new FitLabel(12, Palette::muted(), this)),
      m_value(new FitLabel(22, Palette::ink(), this)) {
    m_title->setText(title);
    m_value->setText(value);
    m_value->setMaxLines(2);
    m_value->setMinimumScale(0.72);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    layout->addWidget(m_title);
    layout->addWidget(m_value);
    layout->addStretch(1);
}

void MetricCard::setValue(const QString& value) {
    m_value->setText(value);
}

QString MetricCard::value() const {
    return m_value->text();
}

void MetricCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PanelFrame::paintCard(painter, rect(), Palette::soft2(), Palette::lineSoft());
}

} // namespace orvane
