#pragma once

#include <QString>
#include <QStringList>

namespace orvane {

// Where the engine finds the system tools and sing-box. One table, so tests can point every
// tool at a stand-in.
struct ToolPaths {
    QString networksetup;
    QString scutil;
    QString netstat;
    QString lsof;
    QString kill;
    QString ps;
    QString curl;
    QString osascript;
    QString shell;
    // Tried in order; the first executable file is sing-box.
    QStringList singBoxCandidates;

    // The tools where this platform keeps them.
    static ToolPaths platformDefaults();
    // "<bin>/../share/orvane": the resources folder of the installed application.
    static QString resourcesDirectory();
};

} // namespace orvane
