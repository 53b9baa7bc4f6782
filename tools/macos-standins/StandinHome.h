#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane::standin {

// The folder named by ORVANE_FAKE_TOOLS_HOME, where every stand-in keeps its state and its log.
class StandinHome {
public:
    static constexpr const char* kHomeVariable = "ORVANE_FAKE_TOOLS_HOME";
    static constexpr const char* kAdminVariable = "ORVANE_FAKE_ADMIN";
    static constexpr const char* kBinVariable = "ORVANE_FAKE_TOOLS_BIN";

    static inline const QString kNetworkFile = QStringLiteral("network.json");
    static inline const QString kProcessesFile = QStringLiteral("processes.json");
    static inline const QString kOsascriptFile = QStringLiteral("osascript.json");
    static inline const QString kRulesFile = QStringLiteral("rules.json");
    static inline const QString kInvocationsFile = QStringLiteral("invocations.jsonl");
    static inline const QString kScriptsFile = QStringLiteral("osascript-scripts.jsonl");

    // Empty when the variable is missing or empty.
    static std::optional<StandinHome> fromEnvironment();
    explicit StandinHome(QString path) : m_path(std::move(path)) {}

    QString path() const { return m_path; }
    QString file(const QString& name) const { return m_path + QLatin1Char('/') + name; }
    bool exists(const QString& name) const;

    // True when this run belongs to a shell started with administrator rights.
    static bool runningAsAdmin();

    // One whole JSON line appended with a single O_APPEND write, so concurrent runs never mix.
    bool appendLine(const QString& name, const QJsonObject& line) const;
    bool logInvocation(const QString& tool, const QStringList& args) const;

    // Missing file: nullopt and no error. Unreadable or not JSON: nullopt and `error` set.
    std::optional<QJsonDocument> readJson(const QString& name, QString* error) const;
    // Written to a temporary in the same folder, then renamed over the old file.
    bool writeJson(const QString& name, const QJsonDocument& document) const;

private:
    QString m_path;
};

} // namespace orvane::standin
