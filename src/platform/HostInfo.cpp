#include "HostInfo.h"

#include <QFile>
#include <QSysInfo>

namespace orvane {

namespace {

// A value of an environment-style file: quotes removed, backslash escapes resolved.
QString shellValue(QStringView raw) {
    QString out;
    QChar quote;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (quote.isNull() && (c == u'"' || c == u'\'')) {
            quote = c;
        } else if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (c == u'\\' && quote != u'\'' && i + 1 < raw.size()) {
            out += raw[++i];
        } else {
            out += c;
        }
    }
    return out;
}

// The name the user gave this computer (systemd keeps it in /etc/machine-info).
QString prettyHostName() {
    QFile file(QStringLiteral("/etc/machine-info"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QLatin1String key("PRETTY_HOSTNAME=");
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(key)) {
            return shellValue(QStringView(line).sliced(key.size())).trimmed();
        }
    }
    return {};
}

} // namespace

QString HostInfo::hostName() {
    if (const QString pretty = prettyHostName(); !pretty.isEmpty()) {
        return pretty;
    }
    const QString name = QSysInfo::machineHostName().trimmed();
    return name.isEmpty() ? QStringLiteral("Mac") : name;
}

QString HostInfo::operatingSystemVersion() { return QSysInfo::prettyProductName(); }

} // namespace orvane
