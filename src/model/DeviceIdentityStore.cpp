#include "DeviceIdentityStore.h"

#include "Preferences.h"

#include <QUuid>

namespace orvane {

DeviceIdentityStore::DeviceIdentityStore(Preferences& preferences) : m_preferences(preferences) {}

QString DeviceIdentityStore::clientDeviceId() const {
    if (const auto stored = m_preferences.string(clientDeviceIdKey)) {
        return *stored;
    }
    if (const auto legacy = m_preferences.string(legacyDeviceIdKey)) {
        m_preferences.setString(clientDeviceIdKey, *legacy);
        return *legacy;
    }
    const QString fresh =
        QStringLiteral("macos-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    m_preferences.setString(clientDeviceIdKey, fresh);
    return fresh;
}

QString DeviceIdentityStore::serverDeviceIdKey(const QString& userId) {
    return QStringLiteral("orvane.serverDeviceId.") + userId;
}

std::optional<QString> DeviceIdentityStore::serverDeviceId(const std::optional<QString>& userId) const {
    if (!userId) {
        return std::nullopt;
    }
    return m_preferences.string(serverDeviceIdKey(*userId));
}

void DeviceIdentityStore::saveServerDeviceId(const QString& deviceId,
                                             const std::optional<QString>& userId) {
    if (!userId) {
        return;
    }
    m_preferences.setString(serverDeviceIdKey(*userId), deviceId);
}

} // namespace orvane
