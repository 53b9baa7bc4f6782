#include "StandinHome.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

namespace orvane::standin {

std::optional<StandinHome> StandinHome::fromEnvironment() {
    const QString path = qEnvironmentVariable(kHomeVariable);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return StandinHome(path);
}

bool StandinHome::exists(const QString& name) const {
    return QFileInfo::exists(file(name));
}

bool StandinHome::runningAsAdmin() {
    return qEnvironmentVariable(kAdminVariable) == u"1";
}

bool StandinHome::appendLine(const QString& name, const QJsonObject& line) const {
    const QByteArray data = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    const QByteArray path = file(name).toLocal8Bit();
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const ssize_t written = ::write(fd, data.constData(), static_cast<size_t>(data.size()));
    ::close(fd);
    return written == data.size();
}

bool StandinHome::logInvocation(const QString& tool, const QStringList& args) const {
    QJsonObject line;
    line[QStringLiteral("tool")] = tool;
    line[QStringLiteral("args")] = QJsonArray::fromStringList(args);
    line[QStringLiteral("admin")] = runningAsAdmin();
    return appendLine(kInvocationsFile, line);
}

std::optional<QJsonDocument> StandinHome::readJson(const QString& name, QString* error) const {
    QFile in(file(name));
    if (!in.exists()) {
        return std::nullopt;
    }
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(in.fileName(), in.errorString());
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(in.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error =
            QStringLiteral("%1 is not valid JSON: %2").arg(in.fileName(), parseError.errorString());
        return std::nullopt;
    }
    return document;
}

bool StandinHome::writeJson(const QString& name, const QJsonDocument& document) const {
    const QString target = file(name);
    const QString temporary = target + QStringLiteral(".tmp.%1").arg(::getpid());
    QFile out(temporary);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const QByteArray data = document.toJson(QJsonDocument::Indented);
    if (out.write(data) != data.size() || !out.flush()) {
        out.close();
        QFile::remove(temporary);
        return false;
    }
    out.close();
    return ::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(target).constData()) == 0;
}

} // namespace orvane::standin
