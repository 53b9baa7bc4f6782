#pragma once

#include "AlertText.h"
#include "AuthView.h"
#include "ConnectionPanel.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <QCoro/QCoroTask>

namespace orvane {

class AppState;
class BusyOverlay;
class SidebarView;

// The main window's content: the sidebar beside the selected page, the busy indicator, the
// sign-in sheet and the one alert through which the application reports, and the launch
// task. The sheet and the alert follow the state only.
class RootView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kAlertTitle = "Orvane";

    // `now` is the clock of the home page's duration card; the real clock when empty.
    explicit RootView(AppState& state, ConnectionPanel::Clock now = {}, QWidget* parent = nullptr);
    ~RootView() override;

    SidebarView* sidebar() const { return m_sidebar; }
    QWidget* page() const { return m_page; }
    BusyOverlay* busyOverlay() const { return m_busy; }
    AuthView* sheet() const { return m_sheet; }
    QMessageBox* alert() const { return m_alert; }
    // The alert's message, selectable, wrapped inside the box.
    AlertText* alertText() const;

signals:
    // A sheet or an alert is about to open while the window is hidden: the shell shows,
    // raises and activates the window.
    void windowRequested();
    // Once, after the first frame went out (or, for a window shown but never painted, a moment
    // after its first showing): work the first frame does not need starts here.
    void firstFrameDone();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPage();
    void syncBusy();
    void syncSheet();
    void syncAlert();
    void dropAlert();
    static void showAlertText(QMessageBox* alert, const QString& message);
    void requestWindow();
    void shareWindowShortcuts(QWidget* dialog);
    void finishFirstFrame();
    void startLaunch();
    static QCoro::Task<void> launch(QPointer<AppState> state);

    AppState& m_state;
    ConnectionPanel::Clock m_now;
    SidebarView* m_sidebar;
    QWidget* m_pageArea;
    QPointer<QWidget> m_page;
    BusyOverlay* m_busy;
    QPointer<AuthView> m_sheet;
    QPointer<QMessageBox> m_alert;
    bool m_firstFrameScheduled = false;
    bool m_firstFrameDone = false;
};

} // namespace orvane
