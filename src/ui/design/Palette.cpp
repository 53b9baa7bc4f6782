#include "Palette.h"

namespace orvane {

namespace {
QColor rgb(double red, double green, double blue) {
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green),
                            static_cast<float>(blue), 1.0f);
}
} // namespace

#define ORVANE_PALETTE_COLOR(name, r, g, b)                                                    \
    const QColor& Palette::name() {                                                           \
        static const QColor color = rgb(r, g, b);                                             \
        return color;                                                                         \
    }

ORVANE_PALETTE_COLOR(black, 0.02, 0.02, 0.02)
ORVANE_PALETTE_COLOR(ink, 0.114, 0.114, 0.122)
ORVANE_PALETTE_COLOR(muted, 0.431, 0.431, 0.451)
ORVANE_PALETTE_COLOR(soft, 0.961, 0.961, 0.969)
ORVANE_PALETTE_COLOR(soft2, 0.984, 0.984, 0.992)
ORVANE_PALETTE_COLOR(line, 0.824, 0.824, 0.843)
ORVANE_PALETTE_COLOR(lineSoft, 0.925, 0.925, 0.941)
ORVANE_PALETTE_COLOR(blue, 0, 0.443, 0.89)
ORVANE_PALETTE_COLOR(blueSoft, 0.918, 0.957, 1.0)
ORVANE_PALETTE_COLOR(green, 0.086, 0.506, 0.239)
ORVANE_PALETTE_COLOR(greenSoft, 0.918, 0.984, 0.945)
ORVANE_PALETTE_COLOR(orange, 0.627, 0.353, 0)
ORVANE_PALETTE_COLOR(orangeSoft, 1.0, 0.969, 0.929)

#undef ORVANE_PALETTE_COLOR

QColor Palette::withOpacity(const QColor& color, double opacity) {
    QColor c = color;
    c.setAlphaF(static_cast<float>(opacity));
    return c;
}

} // namespace orvane
