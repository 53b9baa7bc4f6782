#pragma once

#include <QImage>
#include <QWidget>

#include <optional>

namespace orvane {

// The product logo at `size` px square: the bundled "orvane-logo" image, or "ORV" on a white
// rounded square when the image is missing or unreadable.
class OrvaneLogoMark : public QWidget {
    Q_OBJECT
public:
    explicit OrvaneLogoMark(int size, QWidget* parent = nullptr);

    // Looked up once per process; a missing or broken resource is not looked up again.
    static const std::optional<QImage>& sharedImage();
    // Paints the mark into `box`, with the image when one is given.
    static void paint(QPainter& painter, const QRectF& box, const std::optional<QImage>& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_size;
};

} // namespace orvane
