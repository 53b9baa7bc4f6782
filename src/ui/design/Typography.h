#pragma once

#include <QFont>

namespace orvane {

// One font family for Latin and Chinese on every machine, sizes in pixels.
class Typography {
public:
    static const char* const kFamily;

    // Makes the family the application's default; call once after the QApplication exists.
    static void pinApplicationFont();

    // The family at `pixelSize`; "heavy" maps to the heaviest face installed (Bold).
    static QFont font(int pixelSize, QFont::Weight weight = QFont::Bold);
};

} // namespace orvane
