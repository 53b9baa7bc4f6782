#pragma once

#include <QTextEdit>

namespace orvane {

// The body of the alert: plain text that wraps inside its box, breaking a word too long for a
// line (an address the user is asked to visit) instead of cutting it off, and that can be
// selected and copied exactly as it stands.
class AlertText : public QTextEdit {
    Q_OBJECT
public:
    explicit AlertText(QWidget* parent = nullptr);

    // Sets the text and fits the box to it: as wide as the text needs within the alert's
    // bounds, as tall as its lines.
    void setMessage(const QString& text);
    QString message() const { return toPlainText(); }

    static constexpr int kMinimumWidth = 280;
    static constexpr int kMaximumWidth = 420;
};

} // namespace orvane
