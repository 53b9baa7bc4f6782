#include "SettingsRow.h"

#include "FitLabel.h"
#include "Palette.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

SettingsRow::SettingsRow(const QString& title, const QString& value, QWidget* trailing,
                         QWidget* parent)
    : PanelFrame(false, parent), m_value(new FitLabel(16, Palette::ink(), this)) {
    setColors(Palette::soft2(), Palette::lineSoft());
    setMinimumHeight(58);
    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(title);
    m_value->setText(value);
    m_value->setMaxLines(2);
    m_value->setMinimumScale(0.82);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(caption);
    texts->addWidget(m_value);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(11, 11, 11, 11);
    row->setSpacing(12);
    row->addLayout(texts, 1);
    if (trailing) {
        trailing->setParent(this);
        row->addWidget(trailing, 0, Qt::AlignVCenter);
    }
}

void SettingsRow::setValue(const QString& value) {
    m_value->setText(value);
}

QString SettingsRow::value() const {
    return m_value->text();
}

} // namespace orvane
