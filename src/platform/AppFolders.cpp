#include "AppFolders.h"

#include <QStandardPaths>

namespace orvane {

QString AppFolders::userDataDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString AppFolders::applicationSupportDirectory() {
    return userDataDirectory() + QStringLiteral("/Orvane");
}

QString AppFolders::userConfigDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

} // namespace orvane
