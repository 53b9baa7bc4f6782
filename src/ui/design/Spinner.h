#pragma once

#include <QTimer>
#include <QWidget>

namespace orvane {

// An indeterminate progress ring; turns only while shown.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int diameter, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {m_diameter, m_diameter}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_diameter;
    int m_angle = 0;
    QTimer m_timer;
};

} // namespace orvane
