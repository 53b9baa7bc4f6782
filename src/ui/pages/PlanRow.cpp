#include "PlanRow.h"

#include "CapsuleButton.h"
#include "FitLabel.h"
#include "Palette.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

PlanRow::PlanRow(const Plan& plan, QWidget* parent)
    : PanelFrame(true, parent), m_plan(plan),
      m_button(new CapsuleButton(
          plan.action,
          plan.featured ? CapsuleButton::Style::secondary : CapsuleButton::Style::primary, this)) {
    const QColor text = plan.featured ? QColor(Qt::white) : Palette::ink();
    const QColor quiet = plan.featured ? Palette::withOpacity(Qt::white, 0.72) : Palette::muted();
    setColors(plan.featured ? Palette::black() : QColor(Qt::white), Palette::line());

    auto* name = new FitLabel(12, quiet, this);
    name->setText(plan.name);
    name->setMaxLines(2);
    auto* price = new FitLabel(34, text, this);
    price->setText(plan.price);
    price->setMinimumScale(0.6);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(name);
    texts->addWidget(price);

    auto* detail = new FitLabel(13, quiet, this);
    detail->setText(plan.detail);
    detail->setWeight(QFont::Normal);
    detail->setMaxLines(4);
    detail->setFixedWidth(190);

    // The button keeps its own width, centred in a 150 px slot, unless its title needs more.
    auto* slot = new QWidget(this);
    slot->setFixedWidth(150);
    auto* slotLayout = new QHBoxLayout(slot);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    slotLayout->addWidget(m_button, 0, Qt::AlignCenter);
    m_button->setMaximumWidth(150);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(18, 18, 18, 18);
    row->setSpacing(12);
    row->addLayout(texts, 1);
    row->addWidget(detail, 0, Qt::AlignVCenter);
    row->addWidget(slot, 0, Qt::AlignVCenter);

    connect(m_button, &QAbstractButton::clicked, this, &PlanRow::purchaseClicked);
}

} // namespace orvane
