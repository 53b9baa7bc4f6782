#include "Device.h"

#include "APINodeRecords.h"
#include "StateText.h"

namespace orvane {

Device Device::fromAPI(const APIDevice& api, const QString& currentDeviceId) {
    Device device;
    device.id = api.id;
    device.isCurrent = api.id == currentDeviceId;
    device.platform = displayPlatformName(api.deviceType);
    device.name = api.deviceName + QStringLiteral(" · ") + api.appVersion;
    device.action = device.isCurrent ? QStringLiteral("当前") : QStringLiteral("解绑");
    device.status = api.status;
    device.isOnline = api.isOnline;
    device.lastLogin = StateText::shortDateText(api.lastLoginAt);
    device.rawDeviceName = api.deviceName;
    device.rawDeviceType = api.deviceType;
    device.rawOS = api.os;
    device.appVersion = api.appVersion;
    return device;
}

QString displayPlatformName(const QString& platform) {
    if (platform == u"macos") {
        return QStringLiteral("macOS");
    }
    if (platform == u"android") {
        return QStringLiteral("Android");
    }
    if (platform == u"windows") {
        return QStringLiteral("Windows");
    }
    if (platform == u"ios") {
        return QStringLiteral("iOS");
    }
    if (platform == u"web") {
        return QStringLiteral("Web");
    }
    return platform;
}

} // namespace orvane
