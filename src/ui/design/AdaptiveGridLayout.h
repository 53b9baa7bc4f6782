#pragma once

#include <QLayout>
#include <QList>

namespace orvane {

// As many equal columns of at least `minimumColumnWidth` as the width allows, `spacing`
// apart both ways; each row is as high as its tallest item. Re-flows on every resize.
class AdaptiveGridLayout : public QLayout {
    Q_OBJECT
public:
    AdaptiveGridLayout(int minimumColumnWidth, int spacing, QWidget* parent = nullptr);
    ~AdaptiveGridLayout() override;

    static int columnCount(int width, int minimumColumnWidth, int spacing);
    int columnCount(int width) const;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return static_cast<int>(m_items.size()); }

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;

private:
    // Lays the visible items out in `rect`, moving them only when `apply`; returns the height.
    int arrange(const QRect& rect, bool apply) const;

    int m_minimumColumnWidth;
    int m_spacing;
    QList<QLayoutItem*> m_items;
};

} // namespace orvane
