#pragma once

#include "LogEntry.h"

#include <QWidget>

namespace orvane {

class FitLabel;

// One log entry: its time over its message, which wraps as far as it needs.
class LogRow : public QWidget {
    Q_OBJECT
public:
    explicit LogRow(QWidget* parent = nullptr);

    void setEntry(const LogEntry& entry);
    const LogEntry& entry() const { return m_entry; }
    FitLabel* messageLabel() const { return m_message; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LogEntry m_entry;
    FitLabel* m_time;
    FitLabel* m_message;
};

} // namespace orvane
