#pragma once

#include <QColor>

namespace orvane {

// The window's fixed colours, each made once on first use.
class Palette {
public:
    static const QColor& black();
    static const QColor& ink();
    static const QColor& muted();
    static const QColor& soft();
    static const QColor& soft2();
    static const QColor& line();
    static const QColor& lineSoft();
    static const QColor& blue();
    static const QColor& blueSoft();
    static const QColor& green();
    static const QColor& greenSoft();
    static const QColor& orange();
    static const QColor& orangeSoft();

    // `color` at `opacity` (0…1), for the translucent whites of the sidebar.
    static QColor withOpacity(const QColor& color, double opacity);
};

} // namespace orvane
