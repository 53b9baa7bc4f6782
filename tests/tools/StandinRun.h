#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <map>

namespace orvane::test {

// One finished stand-in run, started as a child process the way the engine starts its tools.
struct StandinRun {
    int status = -1;
    QString out;
    QString err;

    // `extra` is added to (or, for an empty value, removed from) the inherited environment.
    static StandinRun of(const QString& program, const QStringList& args,
                         const std::map<QString, QString>& extra = {}) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : extra) {
            if (value.isEmpty()) {
                environment.remove(name);
            } else {
                environment.insert(name, value);
            }
        }
        process.setProcessEnvironment(environment);
        process.start(program, args);
        StandinRun run;
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
            run.err = QStringLiteral("did not finish: ") + process.errorString();
            return run;
        }
        run.status = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
};

} // namespace orvane::test
