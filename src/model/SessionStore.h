#pragma once

#include <QString>

namespace orvane {

// Where the session token of the signed-in user is kept: a string preference under tokenKey.
struct SessionStore {
    QString tokenKey = QStringLiteral("orvane.sessionToken");
    QString service = QStringLiteral("com.orvane.macos.session");
    QString account = QStringLiteral("authToken");
};

} // namespace orvane
