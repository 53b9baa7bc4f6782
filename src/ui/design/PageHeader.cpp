#include "PageHeader.h"

#include "FitLabel.h"
#include "Palette.h"
#include "Pill.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

PageHeader::PageHeader(const QString& eyebrow, const QString& title, const QString& pill,
                       QWidget* parent)
    : QWidget(parent), m_pill(new Pill(pill, Palette::blue(), Palette::blueSoft(), this)) {
    auto* eyebrowLabel = new FitLabel(12, Palette::muted(), this);
    eyebrowLabel->setText(eyebrow);
    auto* titleLabel = new FitLabel(36, Palette::ink(), this);
    titleLabel->setText(title);
    titleLabel->setMinimumScale(0.6);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(7);
    texts->addWidget(eyebrowLabel);
    texts->addWidget(titleLabel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(texts, 1);
    m_pill->setMaximumWidth(Pill::kHeaderMaximumWidth);
    row->addWidget(m_pill, 0, Qt::AlignTop);
}

void PageHeader::setPillText(const QString& text) {
    m_pill->setText(text);
}

} // namespace orvane
