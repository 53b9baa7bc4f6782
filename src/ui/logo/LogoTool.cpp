// Draws the application's logo into the PNG file named by the first argument. The mark is
// our own: a white rounded tile holding a heavy ring with a blue satellite dot.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    constexpr int size = 256;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(0, 0, size, size), 52, 52);

    const QColor ink = QColor::fromRgbF(0.02f, 0.02f, 0.02f);
    const QColor blue = QColor::fromRgbF(0.0f, 0.443f, 0.89f);
    const QPointF centre(size / 2.0, size / 2.0 + 6);
    painter.setPen(QPen(ink, 34, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    // An open ring: the gap at the upper right is where the dot travels.
    painter.drawArc(QRectF(centre.x() - 74, centre.y() - 74, 148, 148), 70 * 16, 290 * 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(blue);
    painter.drawEllipse(QPointF(centre.x() + 66, centre.y() - 70), 24, 24);
    painter.end();

    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
