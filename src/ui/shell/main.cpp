// The orvane executable: one state for the life of the process, the window, the tray entries
// and the termination hand-shake.
#include "AppState.h"
#include "ApplicationShell.h"
#include "DesktopServices.h"
#include "FirstPaintMarker.h"
#include "InstalledApplications.h"
#include "LaunchAtLogin.h"
#include "MainWindow.h"
#include "OrvaneAPIClient.h"
#include "Preferences.h"
#include "SingleInstance.h"
#include "Typography.h"

#include <QApplication>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Before anything reads or cleans up the profile, sing-box or the proxy: a second start
    // only asks the running instance to show its window.
    orvane::SingleInstance instance;
    if (!instance.isPrimary()) {
        return instance.exitStatus();
    }
    // The tray keeps the application when the window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    orvane::Typography::pinApplicationFont();

    orvane::AppStateDependencies dependencies = orvane::AppStateDependencies::standard();
    dependencies.openURL = &orvane::DesktopServices::openURL;
    dependencies.copyToClipboard = &orvane::DesktopServices::copyToClipboard;
    dependencies.setLaunchAtLogin = [](bool enabled) {
        orvane::LaunchAtLogin::setEnabled(enabled, QCoreApplication::applicationFilePath());
    };
    dependencies.isApplicationInstalled = &orvane::InstalledApplications::isInstalled;
    orvane::AppState state(std::move(dependencies));

    orvane::ApplicationShell::Options options;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    int status = 0;
    {
        orvane::ApplicationShell shell(state, std::move(options));
        shell.attachInstanceGuard(instance);
        if (QCoreApplication::arguments().contains(
                QLatin1String(orvane::FirstPaintMarker::kArgument))) {
            new orvane::FirstPaintMarker(shell.window());
        }
        shell.window()->show();
        status = QApplication::exec();
    }
    return status;
}
