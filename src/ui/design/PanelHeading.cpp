#include "PanelHeading.h"

#include "FitLabel.h"
#include "Palette.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

QHBoxLayout* PanelHeading::make(QWidget* owner, const QString& caption, const QString& title,
                                QWidget* trailing) {
    auto* captionLabel = new FitLabel(12, Palette::muted(), owner);
    captionLabel->setText(caption);
    auto* titleLabel = new FitLabel(17, Palette::ink(), owner);
    titleLabel->setText(title);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(6);
    titles->addWidget(captionLabel);
    titles->addWidget(titleLabel);
    auto* heading = new QHBoxLayout;
    heading->addLayout(titles, 1);
    heading->addWidget(trailing, 0, Qt::AlignTop);
    return heading;
}

} // namespace orvane
