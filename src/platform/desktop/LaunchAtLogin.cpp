#include "LaunchAtLogin.h"

#include "AtomicFile.h"
#include "LaunchAtLoginError.h"
#include "SystemErrorText.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace orvane {

namespace {

// Characters that force an Exec argument into double quotes.
const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");

} // namespace

QString LaunchAtLogin::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/orvane.desktop");
}

bool LaunchAtLogin::isEnabled() {
    return QFileInfo(entryPath()).isFile();
}

QString LaunchAtLogin::execArgument(const QString& path) {
    bool needsQuotes = false;
    for (const QChar c : path) {
        if (kReserved.contains(c)) {
            needsQuotes = true;
            break;
        }
    }
    QString argument;
    if (needsQuotes) {
        argument += u'"';
        for (const QChar c : path) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
                argument += u'\\';
            }
            argument += c;
        }
        argument += u'"';
    } else {
        argument = path;
    }
    // A lone % would start a field code.
    argument.replace(u'%', QStringLiteral("%%"));

    // The key's value is itself a string value, whose escapes are undone before the quoting.
    QString value;
    for (const QChar c : argument) {
        switch (c.unicode()) {
        case '\\':
            value += QStringLiteral("\\\\");
            break;
        case '\n':
            value += QStringLiteral("\\n");
            break;
        case '\t':
            value += QStringLiteral("\\t");
            break;
        case '\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

void LaunchAtLogin::setEnabled(bool enabled, const QString& executablePath) {
    const QString path = entryPath();
    if (!enabled) {
        const QByteArray native = QFile::encodeName(path);
        // ENOTDIR: a file stands where the folder would be, so no entry can exist either.
        if (::unlink(native.constData()) != 0 && errno != ENOENT && errno != ENOTDIR) {
            throw LaunchAtLoginError(SystemErrorText::fromErrno(errno));
        }
        return;
    }
    if (executablePath.isEmpty()) {
        throw LaunchAtLoginError(QStringLiteral("找不到应用程序的路径。"));
    }
    const QString exec = execArgument(QFileInfo(executablePath).absoluteFilePath());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Orvane\n"
                                         "Exec=%1\n"
                                         "X-GNOME-Autostart-enabled=true\n"
                                         "Terminal=false\n")
                              .arg(exec);
    try {
        AtomicFile::write(path, entry.toUtf8(), 0644);
    } catch (const FileError& e) {
        throw LaunchAtLoginError(e.localizedDescription());
    }
}

} // namespace orvane
