#include "StandinFixture.h"

#include "NetworkState.h"
#include "StandinHome.h"

#include <QFile>
#include <QJsonDocument>

using orvane::standin::StandinHome;

namespace orvane::test {

namespace {

std::optional<QByteArray> saved(const char* name) {
    return qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                           : std::nullopt;
}

void restore(const char* name, const std::optional<QByteArray>& value) {
    if (value) {
        qputenv(name, *value);
    } else {
        qunsetenv(name);
    }
}

QList<QJsonObject> jsonLines(const QByteArray& data) {
    QList<QJsonObject> lines;
    for (const QByteArray& line : data.split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject()) {
            lines << document.object();
        }
    }
    return lines;
}

} // namespace

StandinFixture::StandinFixture()
    : m_savedHome(saved(StandinHome::kHomeVariable)),
      m_savedAdmin(saved(StandinHome::kAdminVariable)) {
    qputenv(StandinHome::kHomeVariable, QFile::encodeName(m_dir.path()));
    qunsetenv(StandinHome::kAdminVariable);
}

StandinFixture::~StandinFixture() {
    restore(StandinHome::kHomeVariable, m_savedHome);
    restore(StandinHome::kAdminVariable, m_savedAdmin);
}

QString StandinFixture::binDir() {
    return QStringLiteral(ORVANE_STANDIN_BIN_DIR);
}

QString StandinFixture::tool(const char* name) const {
    return binDir() + QLatin1Char('/') + QLatin1String(name);
}

QJsonObject StandinFixture::defaultNetwork() {
    return standin::NetworkState::defaultJson();
}

void StandinFixture::writeNetwork(const QJsonObject& state) {
    write(StandinHome::kNetworkFile, QJsonDocument(state).toJson());
}

QJsonObject StandinFixture::readNetwork() const {
    const QByteArray data = read(StandinHome::kNetworkFile);
    return data.isNull() ? defaultNetwork() : QJsonDocument::fromJson(data).object();
}

void StandinFixture::writeProcesses(const QJsonObject& table) {
    write(StandinHome::kProcessesFile, QJsonDocument(table).toJson());
}

QJsonObject StandinFixture::readProcesses() const {
    return QJsonDocument::fromJson(read(StandinHome::kProcessesFile)).object();
}

void StandinFixture::writeOsascript(const QJsonObject& knobs) {
    write(StandinHome::kOsascriptFile, QJsonDocument(knobs).toJson());
}

void StandinFixture::writeRules(const QJsonArray& rules) {
    write(StandinHome::kRulesFile, QJsonDocument(rules).toJson());
}

QJsonArray StandinFixture::readRules() const {
    return QJsonDocument::fromJson(read(StandinHome::kRulesFile)).array();
}

QList<StandinFixture::Invocation> StandinFixture::invocations() const {
    QList<Invocation> result;
    for (const QJsonObject& line : jsonLines(read(StandinHome::kInvocationsFile))) {
        Invocation invocation;
        invocation.tool = line.value(QStringLiteral("tool")).toString();
        for (const QJsonValue& arg : line.value(QStringLiteral("args")).toArray()) {
            invocation.args << arg.toString();
        }
        invocation.admin = line.value(QStringLiteral("admin")).toBool();
        result << invocation;
    }
    return result;
}

QList<StandinFixture::Invocation> StandinFixture::invocations(const QString& tool) const {
    QList<Invocation> result;
    for (const Invocation& invocation : invocations()) {
        if (invocation.tool == tool) {
            result << invocation;
        }
    }
    return result;
}

void StandinFixture::clearInvocations() {
    QFile::remove(m_dir.filePath(StandinHome::kInvocationsFile));
}

QStringList StandinFixture::osascriptScripts() const {
    QStringList scripts;
    for (const QJsonObject& line : jsonLines(read(StandinHome::kScriptsFile))) {
        scripts << line.value(QStringLiteral("script")).toString();
    }
    return scripts;
}

void StandinFixture::write(const QString& name, const QByteArray& data) {
    QFile out(m_dir.filePath(name));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(data) != data.size()) {
        qFatal("StandinFixture: cannot write %s", qPrintable(out.fileName()));
    }
}

QByteArray StandinFixture::read(const QString& name) const {
    QFile in(m_dir.filePath(name));
    if (!in.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return in.readAll();
}

} // namespace orvane::test
