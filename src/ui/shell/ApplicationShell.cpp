#include "ApplicationShell.h"

#include "AppState.h"
#include "MainWindow.h"
#include "MenuBarMenuModel.h"
#include "RootView.h"
#include "SignalPipe.h"
#include "SingleInstance.h"
#include "StatusMenuModel.h"
#include "TrayEntry.h"
#include "TrayIconImage.h"

#include <QCoreApplication>

namespace orvane {

ApplicationShell::ApplicationShell(AppState& state, Options options, QObject* parent)
    : QObject(parent), m_state(&state), m_options(std::move(options)) {
    QPointer<AppState> weak(&state);
    m_handshake = new TerminationHandshake(
        [weak]() -> std::optional<QCoro::Task<void>> {
            if (!weak) {
                return std::nullopt;
            }
            return weak->cleanupBeforeExit();
        },
        m_options.sleep, this);
    connect(m_handshake, &TerminationHandshake::replied, this, &ApplicationShell::exitNow);

    auto* root = new RootView(state);
    m_window = new MainWindow(root);
    m_window->setCloseHides(m_options.trayAvailable);
    connect(root, &RootView::windowRequested, this, &ApplicationShell::bringWindowForward);
    connect(m_window, &MainWindow::quitRequested, this, &ApplicationShell::requestQuit);
    connect(m_window, &MainWindow::shown, this, &ApplicationShell::windowShown);
    // The status item, its menu and icon, come after the window's first frame.
    connect(root, &RootView::firstFrameDone, this, &ApplicationShell::makeStatusEntry);

    m_menuBarEntry = new TrayEntry(&state, &MenuBarMenuModel::build, &MenuBarMenuModel::toolTip,
                                   {[this] { showDashboard(); }, [this] { requestQuit(); }},
                                   TrayIconImage::menuBarIcon(), m_options.trayAvailable, this);

    if (m_options.handleSignals) {
        m_signals = new SignalPipe(this);
        connect(m_signals, &SignalPipe::received, this, &ApplicationShell::requestQuit);
    }
}

ApplicationShell::~ApplicationShell() {
    delete m_window;
}

void ApplicationShell::windowShown() {
    if (m_statusEntry) {
        // Queued: "显示仪表盘" shows the window from inside the menu's own trigger.
        m_statusEntry->scheduleRefresh();
    }
}

void ApplicationShell::makeStatusEntry() {
    // The status item comes with the first showing and is never made twice.
    if (m_statusEntry) {
        return;
    }
    m_statusEntry =
        new TrayEntry(m_state.data(), &StatusMenuModel::build, &StatusMenuModel::toolTip,
                      {[this] { showDashboard(); }, [this] { requestQuit(); }},
                      TrayIconImage::statusIcon(), m_options.trayAvailable, this);
}

void ApplicationShell::showDashboard() {
    if (m_state) {
        m_state->setSelectedPage(AppPage::home);
    }
    bringWindowForward();
}

void ApplicationShell::bringWindowForward() {
    // show() alone leaves a minimised window iconic, and a desktop without a task bar has no
    // other way back to it.
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void ApplicationShell::requestQuit() {
    if (m_handshake->request() == TerminationHandshake::Reply::now) {
        exitNow();
    }
}

void ApplicationShell::attachInstanceGuard(SingleInstance& guard) {
    connect(&guard, &SingleInstance::activationRequested, this, &ApplicationShell::showDashboard);
    // A window shown once the quit has begun would go with this process: the later start waits
    // for the lock and runs on its own.
    connect(m_handshake, &TerminationHandshake::requested, &guard,
            &SingleInstance::refuseHandOvers);
    if (m_handshake->isTerminating()) {
        guard.refuseHandOvers();
    }
    if (m_signals) {
        // A busy loop sees the signal and a later start in one pass, the start perhaps first:
        // a SIGTERM sent before the start must still refuse it.
        connect(&guard, &SingleInstance::aboutToAnswer, m_signals, &SignalPipe::deliverPending);
    }
}

void ApplicationShell::exitNow() {
    if (m_options.exit) {
        m_options.exit();
    } else {
        // Not quit(): that would first ask the window to close.
        QCoreApplication::exit(0);
    }
}

} // namespace orvane
