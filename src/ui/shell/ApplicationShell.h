#pragma once

#include "TerminationHandshake.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace orvane {

class AppState;
class MainWindow;
class SignalPipe;
class SingleInstance;
class TrayEntry;

// The application around the one state: the main window, the two tray entries (the menu-bar
// entry from the start, the status item from the window's first frame) and the one way out,
// the termination hand-shake, which every quit path takes.
class ApplicationShell : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Whether the desktop has a tray to put icons in.
        bool trayAvailable = false;
        // Times the hand-shake's limit; the event loop's timer when empty.
        TerminationHandshake::Sleep sleep;
        // Ends the event loop once the hand-shake has replied; QCoreApplication::exit(0) when
        // empty.
        std::function<void()> exit;
        bool handleSignals = true;
    };

    ApplicationShell(AppState& state, Options options, QObject* parent = nullptr);
    ~ApplicationShell() override;

    MainWindow* window() const { return m_window; }
    TrayEntry* menuBarEntry() const { return m_menuBarEntry; }
    // Null until the window's first frame is out.
    TrayEntry* statusEntry() const { return m_statusEntry; }
    TerminationHandshake& handshake() { return *m_handshake; }
    SignalPipe* signalPipe() const { return m_signals; }

    // The home page in the shown, raised and active window.
    void showDashboard();
    // Every way of quitting comes here.
    void requestQuit();
    // Later starts show the dashboard until a quit begins.
    void attachInstanceGuard(SingleInstance& guard);

private:
    void windowShown();
    void makeStatusEntry();
    void bringWindowForward();
    void exitNow();

    QPointer<AppState> m_state;
    Options m_options;
    MainWindow* m_window = nullptr;
    TrayEntry* m_menuBarEntry = nullptr;
    TrayEntry* m_statusEntry = nullptr;
    TerminationHandshake* m_handshake = nullptr;
    SignalPipe* m_signals = nullptr;
};

} // namespace orvane
