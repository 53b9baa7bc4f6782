#pragma once

#include <QWidget>

namespace orvane {

// The one window, titled "Orvane", holding the root view. It never closes by itself: a close
// either hides it (the tray keeps the application) or asks the shell to quit, and Ctrl+Q asks
// to quit; the shell answers both through its termination hand-shake.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kDefaultSize{1180, 780};
    static constexpr QSize kMinimumSize{980, 680};

    explicit MainWindow(QWidget* content, QWidget* parent = nullptr);

    // With a tray a close only hides the window; without one it is a request to quit.
    void setCloseHides(bool hides) { m_closeHides = hides; }
    QWidget* content() const { return m_content; }

signals:
    void shown();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* m_content;
    bool m_closeHides = true;
};

} // namespace orvane
