#pragma once

#include "StandinHome.h"
#include "ToolResult.h"

namespace orvane::standin {

// lsof, ps and kill over the fake process table processes.json:
//   {"processes": {"<pid>": {"command", "listens": [ports], "survivesTerm", "survivesKill",
//                            "commandUnreadable"}}}
// A missing file is an empty table. kill only ever edits the table: no real process is
// signalled, whatever pid it is given. Callers hold the home's lock.
class ProcessTableTool {
public:
    static ToolResult lsof(const StandinHome& home, const QStringList& args);
    static ToolResult ps(const StandinHome& home, const QStringList& args);
    static ToolResult kill(const StandinHome& home, const QStringList& args);
};

} // namespace orvane::standin
