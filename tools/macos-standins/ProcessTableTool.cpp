#include "ProcessTableTool.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <map>

namespace orvane::standin {

namespace {

const QString kProcesses = QStringLiteral("processes");

// Table keyed by pid, so listings come out in ascending pid order.
struct Table {
    QJsonObject document;
    std::map<qint64, QJsonObject> processes;
};

std::optional<Table> loadTable(const StandinHome& home, QString* error) {
    const std::optional<QJsonDocument> document = home.readJson(StandinHome::kProcessesFile, error);
    if (!error->isEmpty()) {
        return std::nullopt;
    }
    Table table;
    table.document = document ? document->object() : QJsonObject();
    const QJsonObject processes = table.document.value(kProcesses).toObject();
    for (auto it = processes.begin(); it != processes.end(); ++it) {
        bool ok = false;
        const qint64 pid = it.key().toLongLong(&ok);
        if (ok) {
            table.processes[pid] = it.value().toObject();
        }
    }
    return table;
}

bool saveTable(const StandinHome& home, Table& table) {
    QJsonObject processes;
    for (const auto& [pid, process] : table.processes) {
        processes[QString::number(pid)] = process;
    }
    table.document[kProcesses] = processes;
    return home.writeJson(StandinHome::kProcessesFile, QJsonDocument(table.document));
}

ToolResult tableError(const QString& error) {
    return ToolResult::fail(2, error.toUtf8() + '\n');
}

std::optional<qint64> decimal(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^-?[0-9]+$"));
    if (!pattern.match(text).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// Signal numbers by the names kill accepts, with or without the "SIG" prefix.
std::optional<int> signalNumber(QString name) {
    if (const auto number = decimal(name)) {
        return *number >= 0 && *number <= 64 ? std::optional<int>(static_cast<int>(*number))
                                             : std::nullopt;
    }
    name = name.toUpper();
    if (name.startsWith(QLatin1String("SIG"))) {
        name = name.mid(3);
    }
    static const std::map<QString, int> names{
        {QStringLiteral("HUP"), 1},   {QStringLiteral("INT"), 2},   {QStringLiteral("QUIT"), 3},
        {QStringLiteral("KILL"), 9},  {QStringLiteral("USR1"), 10}, {QStringLiteral("USR2"), 12},
        {QStringLiteral("TERM"), 15}, {QStringLiteral("CONT"), 18}, {QStringLiteral("STOP"), 19}};
    const auto it = names.find(name);
    return it == names.end() ? std::nullopt : std::optional<int>(it->second);
}

constexpr int kSigKill = 9;
constexpr int kSigTerm = 15;

} // namespace

ToolResult ProcessTableTool::lsof(const StandinHome& home, const QStringList& args) {
    std::optional<qint64> port;
    bool listenOnly = false;
    bool terse = false;
    for (const QString& arg : args) {
        if (arg.startsWith(QLatin1String("-iTCP:"))) {
            port = decimal(arg.mid(6));
        } else if (arg == u"-sTCP:LISTEN") {
            listenOnly = true;
        } else if (arg == u"-t") {
            terse = true;
        } else if (arg != u"-nP" && arg != u"-n" && arg != u"-P") {
            port.reset();
            break;
        }
    }
    if (!port || !listenOnly || !terse) {
        return ToolResult::fail(1, "lsof stand-in: only -nP -iTCP:<port> -sTCP:LISTEN -t\n");
    }
    QString error;
    const std::optional<Table> table = loadTable(home, &error);
    if (!table) {
        return tableError(error);
    }
    QByteArray out;
    for (const auto& [pid, process] : table->processes) {
        for (const QJsonValue& listen : process.value(QStringLiteral("listens")).toArray()) {
            if (listen.toInteger() == *port) {
                out += QByteArray::number(pid) + '\n';
                break;
            }
        }
    }
    // lsof ends with 1 when nothing matched.
    return out.isEmpty() ? ToolResult::fail(1, {}) : ToolResult::ok(out);
}

ToolResult ProcessTableTool::ps(const StandinHome& home, const QStringList& args) {
    const bool shape = args.size() == 4 && args.at(0) == u"-p" && args.at(2) == u"-o" &&
                       (args.at(3) == u"pid=" || args.at(3) == u"command=");
    const std::optional<qint64> pid = shape ? decimal(args.at(1)) : std::nullopt;
    if (!pid) {
        return ToolResult::fail(1, "ps stand-in: only -p <pid> -o pid= | command=\n");
    }
    QString error;
    const std::optional<Table> table = loadTable(home, &error);
    if (!table) {
        return tableError(error);
    }
    const auto it = table->processes.find(*pid);
    if (it == table->processes.end()) {
        return ToolResult::fail(1, {});
    }
    if (args.at(3) == u"pid=") {
        return ToolResult::ok(QByteArray::number(*pid).rightJustified(5, ' ') + '\n');
    }
    const QJsonObject& process = it->second;
    if (process.value(QStringLiteral("commandUnreadable")).toBool()) {
        return ToolResult::fail(1, {});
    }
    return ToolResult::ok(process.value(QStringLiteral("command")).toString().toUtf8() + '\n');
}

ToolResult ProcessTableTool::kill(const StandinHome& home, const QStringList& args) {
    int signal = kSigTerm;
    QStringList targets = args;
    if (!targets.isEmpty() && targets.first() == u"-s") {
        const std::optional<int> named =
            targets.size() > 1 ? signalNumber(targets.at(1)) : std::nullopt;
        if (!named) {
            return ToolResult::fail(1, "kill: unknown signal\n");
        }
        signal = *named;
        targets = targets.mid(2);
    } else if (!targets.isEmpty() && targets.first() != u"--" &&
               targets.first().startsWith(QLatin1Char('-'))) {
        // "-9", "-HUP", "-SIGTERM"; like /bin/kill, "-1" here is a signal, not a pid.
        const std::optional<int> named = signalNumber(targets.first().mid(1));
        if (!named) {
            return ToolResult::fail(
                1, QStringLiteral("kill: unknown signal: %1\n").arg(targets.first()).toUtf8());
        }
        signal = *named;
        targets = targets.mid(1);
    }
    if (!targets.isEmpty() && targets.first() == u"--") {
        targets = targets.mid(1);
    }
    if (targets.isEmpty()) {
        return ToolResult::fail(1, "kill: usage: kill [-s sigspec | -signum] pid ...\n");
    }

    QString error;
    std::optional<Table> table = loadTable(home, &error);
    if (!table) {
        return tableError(error);
    }
    ToolResult result;
    bool changed = false;
    for (const QString& target : targets) {
        const std::optional<qint64> pid = decimal(target);
        if (!pid) {
            result.status = 1;
            result.standardError +=
                QStringLiteral("kill: failed to parse argument: '%1'\n").arg(target).toUtf8();
            continue;
        }
        const auto it = table->processes.find(*pid);
        if (it == table->processes.end()) {
            result.status = 1;
            result.standardError +=
                QStringLiteral("kill: (%1) - No such process\n").arg(*pid).toUtf8();
            continue;
        }
        const QJsonObject& process = it->second;
        const bool ends =
            (signal == kSigTerm && !process.value(QStringLiteral("survivesTerm")).toBool()) ||
            (signal == kSigKill && !process.value(QStringLiteral("survivesKill")).toBool());
        if (ends) {
            table->processes.erase(it);
            changed = true;
        }
    }
    if (changed && !saveTable(home, *table)) {
        return ToolResult::fail(2, "kill stand-in: cannot write processes.json\n");
    }
    return result;
}

} // namespace orvane::standin
