#include "ToolPaths.h"

#include "PlatformBuildConfig.h"

#include <QCoreApplication>
#include <QDir>

namespace orvane {

ToolPaths ToolPaths::platformDefaults() {
    ToolPaths paths;
    paths.networksetup = QStringLiteral("/usr/sbin/networksetup");
    paths.scutil = QStringLiteral("/usr/sbin/scutil");
    // Debian keeps these two in /usr/bin; looking in /usr/sbin would make every port look free.
    paths.netstat = QStringLiteral("/usr/bin/netstat");
    paths.lsof = QStringLiteral("/usr/bin/lsof");
    paths.kill = QStringLiteral("/bin/kill");
    paths.ps = QStringLiteral("/bin/ps");
    paths.curl = QStringLiteral("/usr/bin/curl");
    paths.osascript = QStringLiteral("/usr/bin/osascript");
    paths.shell = QStringLiteral("/bin/sh");
    paths.singBoxCandidates = {resourcesDirectory() + QStringLiteral("/sing-box"),
                               QStringLiteral("/opt/homebrew/bin/sing-box"),
                               QStringLiteral("/usr/local/bin/sing-box")};
    // A development build runs against stand-ins of the tools that change the system proxy
    // and of sing-box; the others only look at this machine.
    const QString standIns = QString::fromUtf8(build::kToolsDirectory);
    if (!standIns.isEmpty()) {
        paths.networksetup = standIns + QStringLiteral("/networksetup");
        paths.scutil = standIns + QStringLiteral("/scutil");
        paths.osascript = standIns + QStringLiteral("/osascript");
        paths.singBoxCandidates = {standIns + QStringLiteral("/sing-box")};
    }
    return paths;
}

QString ToolPaths::resourcesDirectory() {
    const QString bin = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                     : QDir::currentPath();
    return QDir::cleanPath(bin + QStringLiteral("/../share/orvane"));
}

} // namespace orvane
