#pragma once

#include "StandinHome.h"
#include "ToolResult.h"

namespace orvane::standin {

// scutil --proxy over network.json: the dictionary of the first enabled service that has a
// proxy on, else of the first enabled service. The knob "scutilStaleCalls": N makes the next N
// calls print the all-off dictionary and counts down in the file. Callers hold the home's lock.
class ScutilTool {
public:
    static ToolResult run(const StandinHome& home, const QStringList& args);
};

} // namespace orvane::standin
