#pragma once

#include "StandinHome.h"
#include "ToolResult.h"

#include <optional>

namespace orvane::standin {

// osascript -e 'do shell script "…" [with administrator privileges]'.
//
// The string literal is read as AppleScript reads it: \" is a double quote, \\ a backslash,
// \n, \t and \r a line feed, tab and carriage return; any other backslash sequence, an
// unterminated literal or any other statement is refused ("execution error", status 1).
// Raw line breaks inside the literal are kept.
//
// Every recognised script (declined or not) is appended to osascript-scripts.jsonl. The shell
// text runs under /bin/sh -c with ORVANE_FAKE_TOOLS_BIN set to `binDir`; the administrator
// form also sets ORVANE_FAKE_ADMIN=1, and with {"decline": true} in osascript.json it answers
// as a cancelled prompt instead. While processes.json exists, the shell's `kill` is redirected
// to the kill stand-in so a privileged kill script never reaches a real process.
//
// As `do shell script` does, the result is standard output less one trailing line feed, with
// line feeds turned into carriage returns; a failing shell gives
// "execution error: <its standard error> (<status>)" and status 1.
class OsascriptTool {
public:
    struct ShellScript {
        QString text;
        bool administrator = false;
    };

    // nullopt when the script is not a do shell script statement; `reason` says why.
    static std::optional<ShellScript> parse(const QString& script, QString* reason);

    // Takes no lock: the shell it starts runs other stand-ins that do.
    static ToolResult run(const StandinHome& home, const QStringList& args, const QString& binDir);
};

} // namespace orvane::standin
