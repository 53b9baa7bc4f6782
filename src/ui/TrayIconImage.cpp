#include "TrayIconImage.h"

#include "OrvaneLogoMark.h"
#include "Palette.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace orvane {

namespace {

// 18 px with a 4 px corner, drawn large so a tray that scales it keeps it sharp.
constexpr int kSize = 72;
constexpr double kCorner = kSize * 4.0 / 18.0;

QPixmap drawIcon() {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF box(0, 0, kSize, kSize);
    if (const auto& logo = OrvaneLogoMark::sharedImage()) {
        QPainterPath clip;
        clip.addRoundedRect(box, kCorner, kCorner);
        painter.setClipPath(clip);
        OrvaneLogoMark::paint(painter, box, logo);
        return pixmap;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::black());
    painter.drawEllipse(box.adjusted(2, 2, -2, -2));
    const double u = kSize / 18.0;
    const QPolygonF bolt({{10 * u, 3 * u},
                          {5 * u, 10 * u},
                          {8.6 * u, 10 * u},
                          {7.6 * u, 15 * u},
                          {13 * u, 7.6 * u},
                          {9.4 * u, 7.6 * u}});
    painter.setBrush(Qt::white);
    painter.drawPolygon(bolt);
    return pixmap;
}

} // namespace

const QIcon& TrayIconImage::icon() {
    static const QIcon icon(drawIcon());
    return icon;
}

bool TrayIconImage::hasLogo() {
    return OrvaneLogoMark::sharedImage().has_value();
}

} // namespace orvane
