#pragma once

#include <QString>
#include <QWidget>

namespace orvane {

class FitLabel;

// A titled value on a soft rounded card; the value wraps to two lines, then shrinks to 72 %.
class MetricCard : public QWidget {
    Q_OBJECT
public:
    MetricCard(const QString& title, const QString& value, QWidget* parent = nullptr);

    void setValue(const QString& value);
    QString value() const;
    FitLabel* valueLabel() const { return m_value; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FitLabel* m_title;
    FitLabel* m_value;
};

} // namespace orvane
