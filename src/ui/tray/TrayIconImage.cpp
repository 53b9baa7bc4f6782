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

QPixmap blankPixmap() {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap drawLogo() {
    QPixmap pixmap = blankPixmap();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF box(0, 0, kSize, kSize);
    QPainterPath clip;
    clip.addRoundedRect(box, kCorner, kCorner);
    painter.setClipPath(clip);
    OrvaneLogoMark::paint(painter, box, OrvaneLogoMark::sharedImage());
    return pixmap;
}

QPixmap drawBolt() {
    QPixmap pixmap = blankPixmap();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, kSize, kSize);
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

const QIcon& TrayIconImage::statusIcon() {
    static const QIcon icon(drawLogo());
    return icon;
}

const QIcon& TrayIconImage::menuBarIcon() {
    static const QIcon icon(drawBolt());
    return icon;
}

} // namespace orvane
