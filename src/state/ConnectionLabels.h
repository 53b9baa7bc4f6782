#pragma once

#include "ProtocolKind.h"
#include "StateEnumerations.h"

#include <QString>

namespace orvane {

// How a protocol and an outbound mode are named in connection log lines and final errors.
inline QString protocolLabel(ProtocolKind kind) {
    switch (kind) {
    case ProtocolKind::hysteria2:
        return QStringLiteral("Hysteria2");
    case ProtocolKind::vless:
        return QStringLiteral("VLESS");
    case ProtocolKind::unknown:
        break;
    }
    return QStringLiteral("自动");
}

inline QString outboundModeTitle(OutboundMode mode) {
    switch (mode) {
    case OutboundMode::smart:
        break;
    case OutboundMode::global:
        return QStringLiteral("全局代理");
    case OutboundMode::direct:
        return QStringLiteral("直连模式");
    case OutboundMode::enhanced:
        return QStringLiteral("增强模式");
    }
    return QStringLiteral("智能模式");
}

} // namespace orvane
