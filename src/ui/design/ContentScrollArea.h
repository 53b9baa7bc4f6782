#pragma once

#include <QScrollArea>

namespace orvane {

// A frameless vertical scroll area that asks for the height of its content and gives way
// down to a floor, so a long list scrolls inside whatever space its column can spare.
class ContentScrollArea : public QScrollArea {
    Q_OBJECT
public:
    ContentScrollArea(QWidget* content, int minimumHeight, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Call when the content's height may have changed.
    void contentChanged();
    // The height it gives way down to (or the content's, when less).
    void setFloor(int minimumHeight);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int contentHeight() const;

    int m_minimumHeight;
};

} // namespace orvane
