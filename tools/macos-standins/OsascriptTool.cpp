#include "OsascriptTool.h"

#include <QProcess>

namespace orvane::standin {

namespace {

ToolResult executionError(const QString& message, const QString& code) {
    return ToolResult::fail(
        1, QStringLiteral("execution error: %1 (%2)\n").arg(message, code).toUtf8());
}

// do shell script's way with output: one trailing line feed dropped, the rest become CRs.
QByteArray asResultText(QByteArray text) {
    if (text.endsWith('\n')) {
        text.chop(1);
    }
    text.replace('\n', '\r');
    return text;
}

} // namespace

std::optional<OsascriptTool::ShellScript> OsascriptTool::parse(const QString& script,
                                                               QString* reason) {
    const qsizetype open = script.indexOf(QLatin1Char('"'));
    if (open < 0 ||
        script.left(open).simplified().compare(u"do shell script", Qt::CaseInsensitive) != 0) {
        *reason = QStringLiteral("only do shell script statements are understood");
        return std::nullopt;
    }
    ShellScript result;
    qsizetype i = open + 1;
    bool closed = false;
    for (; i < script.size(); ++i) {
        const QChar c = script.at(i);
        if (c == QLatin1Char('"')) {
            closed = true;
            ++i;
            break;
        }
        if (c != QLatin1Char('\\')) {
            result.text += c;
            continue;
        }
        if (++i == script.size()) {
            break;
        }
        switch (script.at(i).unicode()) {
        case '\\':
            result.text += QLatin1Char('\\');
            break;
        case '"':
            result.text += QLatin1Char('"');
            break;
        case 'n':
            result.text += QLatin1Char('\n');
            break;
        case 't':
            result.text += QLatin1Char('\t');
            break;
        case 'r':
            result.text += QLatin1Char('\r');
            break;
        default:
            *reason = QStringLiteral("unknown escape \\%1 in string literal").arg(script.at(i));
            return std::nullopt;
        }
    }
    if (!closed) {
        *reason = QStringLiteral("unterminated string literal");
        return std::nullopt;
    }
    const QString tail = script.mid(i).simplified();
    if (tail.compare(u"with administrator privileges", Qt::CaseInsensitive) == 0) {
        result.administrator = true;
    } else if (!tail.isEmpty()) {
        *reason = QStringLiteral("unexpected text after the string: %1").arg(tail);
        return std::nullopt;
    }
    return result;
}

ToolResult OsascriptTool::run(const StandinHome& home, const QStringList& args,
                              const QString& binDir) {
    if (args.size() != 2 || args.first() != u"-e") {
        return ToolResult::fail(1, "usage: osascript -e statement (the only form this stand-in "
                                   "knows)\n");
    }
    QString reason;
    const std::optional<ShellScript> script = parse(args.at(1), &reason);
    if (!script) {
        return executionError(reason, QStringLiteral("-2741"));
    }
    QJsonObject line;
    line[QStringLiteral("script")] = script->text;
    home.appendLine(StandinHome::kScriptsFile, line);

    QString error;
    const std::optional<QJsonDocument> knobs = home.readJson(StandinHome::kOsascriptFile, &error);
    if (!error.isEmpty()) {
        return ToolResult::fail(2, error.toUtf8() + '\n');
    }
    if (script->administrator && knobs &&
        knobs->object().value(QStringLiteral("decline")).toBool()) {
        return executionError(QStringLiteral("User canceled."), QStringLiteral("-128"));
    }

    QString text = script->text;
    if (home.exists(StandinHome::kProcessesFile)) {
        text.prepend(QStringLiteral("kill() { \"$%1/kill\" \"$@\"; }\n")
                         .arg(QLatin1String(StandinHome::kBinVariable)));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(StandinHome::kBinVariable), binDir);
    if (script->administrator) {
        environment.insert(QLatin1String(StandinHome::kAdminVariable), QStringLiteral("1"));
    } else {
        environment.remove(QLatin1String(StandinHome::kAdminVariable));
    }
    QProcess shell;
    shell.setProcessEnvironment(environment);
    shell.setStandardInputFile(QProcess::nullDevice());
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), text});
    if (!shell.waitForStarted(-1)) {
        return executionError(shell.errorString(), QStringLiteral("-10004"));
    }
    shell.waitForFinished(-1);
    const QByteArray out = shell.readAllStandardOutput();
    const QByteArray err = shell.readAllStandardError();
    const int status = shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : 1;
    if (status != 0) {
        const QByteArray message = asResultText(err);
        return executionError(message.isEmpty()
                                  ? QStringLiteral("The command exited with a non-zero status.")
                                  : QString::fromUtf8(message),
                              QString::number(status));
    }
    const QByteArray result = asResultText(out);
    return ToolResult::ok(result.isEmpty() ? QByteArray() : result + '\n');
}

} // namespace orvane::standin
