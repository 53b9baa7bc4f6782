#include "CommandResult.h"

#include <QStringList>

namespace orvane {

QString CommandResult::output() const {
    QStringList parts;
    if (!standardOutput.isEmpty()) {
        parts << standardOutput;
    }
    if (!standardError.isEmpty()) {
        parts << standardError;
    }
    return parts.join(QLatin1Char('\n'));
}

} // namespace orvane
