// One program behind every macOS tool stand-in; it tells which tool it plays from the name it
// was started under (networksetup, scutil, osascript, lsof, ps, kill, curl, netstat).
#include "NetworkSetupTool.h"
#include "OsascriptTool.h"
#include "ProcessTableTool.h"
#include "ScriptedRules.h"
#include "ScutilTool.h"
#include "StandinHome.h"
#include "StandinLock.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

using namespace orvane::standin;

namespace {

void writeAll(std::FILE* stream, const QByteArray& data) {
    if (!data.isEmpty()) {
        std::fwrite(data.constData(), 1, static_cast<size_t>(data.size()), stream);
        std::fflush(stream);
    }
}

int finish(const ToolResult& result) {
    writeAll(stdout, result.standardOutput);
    writeAll(stderr, result.standardError);
    return result.status;
}

ToolResult dispatch(const StandinHome& home, const QString& tool, const QStringList& args) {
    if (tool == u"networksetup") {
        return NetworkSetupTool::run(home, args);
    }
    if (tool == u"scutil") {
        return ScutilTool::run(home, args);
    }
    if (tool == u"lsof") {
        return ProcessTableTool::lsof(home, args);
    }
    if (tool == u"ps") {
        return ProcessTableTool::ps(home, args);
    }
    if (tool == u"kill") {
        return ProcessTableTool::kill(home, args);
    }
    if (tool == u"curl" || tool == u"netstat") {
        return ToolResult::fail(1, tool.toUtf8() + " stand-in: no scripted answer\n");
    }
    return ToolResult::fail(2, "macos-standin: unknown tool name " + tool.toUtf8() + '\n');
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const QString invokedAs = args.isEmpty() ? QString() : args.takeFirst();
    QString tool = QFileInfo(invokedAs).fileName();
    if (tool == u"macos-standin" && !args.isEmpty()) {
        tool = args.takeFirst();
    }

    const std::optional<StandinHome> home = StandinHome::fromEnvironment();
    if (!home) {
        return finish(ToolResult::fail(2, QByteArray(StandinHome::kHomeVariable) +
                                              " is not set: the " + tool.toUtf8() +
                                              " stand-in has no state folder\n"));
    }
    if (!home->logInvocation(tool, args)) {
        return finish(ToolResult::fail(
            2, "cannot append to " + home->file(StandinHome::kInvocationsFile).toUtf8() + '\n'));
    }

    if (tool == u"osascript") {
        // The folder this stand-in was started from, where its kill sibling lives.
        const QString binDir = invokedAs.contains(QLatin1Char('/'))
                                   ? QFileInfo(invokedAs).absolutePath()
                                   : QCoreApplication::applicationDirPath();
        return finish(OsascriptTool::run(*home, args, binDir));
    }

    const StandinLock lock(*home);
    QString error;
    if (const std::optional<ToolResult> scripted =
            ScriptedRules::answer(*home, tool, args, &error)) {
        return finish(*scripted);
    }
    if (!error.isEmpty()) {
        return finish(ToolResult::fail(2, error.toUtf8() + '\n'));
    }
    return finish(dispatch(*home, tool, args));
}
