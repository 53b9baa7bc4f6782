#include "OrvaneLogoMark.h"

#include "Palette.h"
#include "Typography.h"

#include <QFile>
#include <QPainter>

namespace orvane {

OrvaneLogoMark::OrvaneLogoMark(int size, QWidget* parent) : QWidget(parent), m_size(size) {
    setFixedSize(size, size);
    setAccessibleName(QStringLiteral("Orvane"));
}

const std::optional<QImage>& OrvaneLogoMark::sharedImage() {
    static const std::optional<QImage> image = []() -> std::optional<QImage> {
        const QString path = QStringLiteral(":/orvane-logo.png");
        if (!QFile::exists(path)) {
            return std::nullopt;
        }
        QImage loaded(path);
        if (loaded.isNull()) {
            return std::nullopt;
        }
        return loaded;
    }();
    return image;
}

void OrvaneLogoMark::paint(QPainter& painter, const QRectF& box,
                           const std::optional<QImage>& image) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (image) {
        const QSizeF fitted = QSizeF(image->size()).scaled(box.size(), Qt::KeepAspectRatio);
        const QRectF target(box.center().x() - fitted.width() / 2,
                            box.center().y() - fitted.height() / 2, fitted.width(),
                            fitted.height());
        painter.drawImage(target, *image);
    } else {
        const double size = box.width();
        const double radius = std::max(size * 0.16, 8.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(box, radius, radius);
        painter.setFont(Typography::font(std::max(1, static_cast<int>(size * 0.42))));
        painter.setPen(Palette::black());
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("ORV"));
    }
    painter.restore();
}

void OrvaneLogoMark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(0, 0, m_size, m_size), sharedImage());
}

} // namespace orvane
