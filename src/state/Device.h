#pragma once

#include <QString>

namespace orvane {

struct APIDevice;

// One device bound to the account, with texts ready to show.
struct Device {
    QString id;
    QString platform;
    QString name;   // device name, " · ", application version
    QString action; // "当前" for this machine, else "解绑"
    QString status;
    bool isOnline = false;
    bool isCurrent = false;
    QString lastLogin;
    QString rawDeviceName;
    QString rawDeviceType;
    QString rawOS;
    QString appVersion;

    static Device fromAPI(const APIDevice& api, const QString& currentDeviceId);

    friend bool operator==(const Device&, const Device&) = default;
};

// "macos" → "macOS" and the like, exact; any other text unchanged.
QString displayPlatformName(const QString& platform);

} // namespace orvane
