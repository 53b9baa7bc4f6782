#pragma once

#include "StandinHome.h"
#include "ToolResult.h"

#include <optional>

namespace orvane::standin {

// Scripted answers from rules.json, a list of
//   {"tool": "curl", "args": [...], "argsContain": [...], "status": 0, "stdout": "", "stderr": "",
//    "times": 1}
// A rule matches when "tool" (if given) names this tool, "args" (if given) equals the argument
// list exactly and every entry of "argsContain" (if given) is one of the arguments. The first
// matching rule answers. "times" (if given) counts its remaining uses: one is taken per answer
// and the rule is dropped from the file when none is left. Callers hold the home's lock.
class ScriptedRules {
public:
    // nullopt when no rule matches (or the file is missing); `error` is set when rules.json
    // exists but is not a JSON array.
    static std::optional<ToolResult> answer(const StandinHome& home, const QString& tool,
                                            const QStringList& args, QString* error);
};

} // namespace orvane::standin
