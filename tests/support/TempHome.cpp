#include "TempHome.h"

#include <QDir>

namespace orvane::test {

namespace {
const char* const kVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                  "XDG_STATE_HOME"};
}

TempHome::TempHome() {
    for (const char* name : kVariables) {
        const QByteArray key(name);
        m_saved[key] = qEnvironmentVariableIsSet(name)
                           ? std::optional<QByteArray>(qgetenv(name))
                           : std::nullopt;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("data"));
    QDir(m_dir.path()).mkpath(QStringLiteral("cache"));
    QDir(m_dir.path()).mkpath(QStringLiteral("state"));
    qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    qputenv("XDG_CACHE_HOME", (m_dir.path() + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_STATE_HOME", (m_dir.path() + QStringLiteral("/state")).toUtf8());
}

TempHome::~TempHome() {
    for (const auto& [key, value] : m_saved) {
        if (value) {
            qputenv(key.constData(), *value);
        } else {
            qunsetenv(key.constData());
        }
    }
}

QString TempHome::configHome() const { return m_dir.path() + QStringLiteral("/config"); }
QString TempHome::dataHome() const { return m_dir.path() + QStringLiteral("/data"); }

} // namespace orvane::test
