#pragma once

#include <QString>

#include <optional>

namespace orvane {

class Preferences;

// The id of this installation, and per user the id the service gave it when it was bound.
// Everything lives in the preferences and survives restarts and sign-outs.
class DeviceIdentityStore {
public:
    explicit DeviceIdentityStore(Preferences& preferences);

    QString clientDeviceIdKey = QStringLiteral("orvane.clientDeviceId");
    QString legacyDeviceIdKey = QStringLiteral("orvane.deviceId");

    // The stored id (even an empty one), else the id of an earlier version copied over, else a
    // new "macos-" id; the last two are stored.
    QString clientDeviceId() const;
    std::optional<QString> serverDeviceId(const std::optional<QString>& userId) const;
    void saveServerDeviceId(const QString& deviceId, const std::optional<QString>& userId);

private:
    static QString serverDeviceIdKey(const QString& userId);

    Preferences& m_preferences;
};

} // namespace orvane
