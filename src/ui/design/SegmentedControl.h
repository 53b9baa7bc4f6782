#pragma once

#include <QList>
#include <QString>
#include <QWidget>

namespace orvane {

// Equal segments on a soft track; the selected one is white text on near-black. Nothing is
// highlighted when the selection is outside the segments.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(QStringList titles, QWidget* parent = nullptr);

    // -1: none highlighted.
    void setSelectedIndex(int index);
    int selectedIndex() const { return m_selected; }
    int count() const { return static_cast<int>(m_titles.size()); }
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void segmentClicked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int indexAt(const QPoint& point) const;

    QStringList m_titles;
    int m_selected = -1;
    int m_pressed = -1;
};

} // namespace orvane
