#pragma once

#include "StandinHome.h"
#include "ToolResult.h"

namespace orvane::standin {

// networksetup over network.json: the listing, the three proxy kinds and the bypass list.
// Knobs (under "knobs"): "failVerbs" (those verbs fail, status 1, nothing changes),
// "failServices" (every set verb on those services fails), "setNeedsAdmin" (every set verb
// fails unless the run has administrator rights). Unknown service: status 4; bad arguments:
// status 4; unknown verb: status 1. Callers hold the home's lock.
class NetworkSetupTool {
public:
    static ToolResult run(const StandinHome& home, const QStringList& args);
};

} // namespace orvane::standin
