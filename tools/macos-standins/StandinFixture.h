#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace orvane::test {

// A fresh state folder for the macOS tool stand-ins, for the lifetime of the object.
//
// The constructor creates a temporary folder and points ORVANE_FAKE_TOOLS_HOME at it (and
// unsets ORVANE_FAKE_ADMIN); the destructor puts both variables back. Point the engine's tool
// paths at tool("networksetup") and so on; every stand-in run is then logged and reads its
// state from here:
//   network.json    networksetup and scutil: {"services": [...], "knobs": {...}}; see
//                   defaultNetwork() for the shape. Knobs: "failVerbs", "failServices",
//                   "setNeedsAdmin", "scutilStaleCalls".
//   processes.json  lsof, ps, kill: {"processes": {"<pid>": {"command", "listens",
//                   "survivesTerm", "survivesKill", "commandUnreadable"}}}
//   osascript.json  {"decline": true} answers administrator scripts as a cancelled prompt.
//   rules.json      scripted answers for curl and netstat, which override any other stand-in
//                   but osascript: [{"tool", "args" | "argsContain", "status", "stdout",
//                   "stderr", "times"}]; first match wins, "times" counts down to removal.
// Not thread-safe; one fixture at a time per test process, since it sets the environment.
class StandinFixture {
public:
    StandinFixture();
    ~StandinFixture();
    StandinFixture(const StandinFixture&) = delete;
    StandinFixture& operator=(const StandinFixture&) = delete;

    QString home() const { return m_dir.path(); }
    // The folder holding every stand-in executable.
    static QString binDir();
    // binDir() + "/" + name.
    QString tool(const char* name) const;

    // "Wi-Fi" and "Ethernet" with every proxy off, a disabled "Bluetooth PAN", no knobs: what
    // networksetup sees while network.json is missing.
    static QJsonObject defaultNetwork();
    void writeNetwork(const QJsonObject& state);
    // The file's contents, or defaultNetwork() while it is missing.
    QJsonObject readNetwork() const;

    void writeProcesses(const QJsonObject& table);
    // The file's contents, or an empty object while it is missing.
    QJsonObject readProcesses() const;

    void writeOsascript(const QJsonObject& knobs);

    void writeRules(const QJsonArray& rules);
    QJsonArray readRules() const;

    struct Invocation {
        QString tool;
        QStringList args;
        bool admin = false;
    };
    // Every stand-in run so far, oldest first.
    QList<Invocation> invocations() const;
    // Only the runs of one tool.
    QList<Invocation> invocations(const QString& tool) const;
    void clearInvocations();

    // The shell texts osascript was asked to run (unescaped), oldest first.
    QStringList osascriptScripts() const;

private:
    void write(const QString& name, const QByteArray& data);
    QByteArray read(const QString& name) const;

    QTemporaryDir m_dir;
    std::optional<QByteArray> m_savedHome;
    std::optional<QByteArray> m_savedAdmin;
};

} // namespace orvane::test
