#pragma once

#include <QByteArray>

namespace orvane::standin {

// What one stand-in run hands back to its caller: exit status and both output streams.
struct ToolResult {
    int status = 0;
    QByteArray standardOutput;
    QByteArray standardError;

    static ToolResult ok(QByteArray out = {}) { return {0, std::move(out), {}}; }
    static ToolResult fail(int status, QByteArray err, QByteArray out = {}) {
        return {status, std::move(out), std::move(err)};
    }
};

} // namespace orvane::standin
