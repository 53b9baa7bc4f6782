#include "Typography.h"

#include <QApplication>

namespace orvane {

const char* const Typography::kFamily = "Noto Sans CJK SC";

void Typography::pinApplicationFont() {
    QFont font(QString::fromLatin1(kFamily));
    font.setPixelSize(13);
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
}

QFont Typography::font(int pixelSize, QFont::Weight weight) {
    QFont font(QString::fromLatin1(kFamily));
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace orvane
