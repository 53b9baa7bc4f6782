#include "OrvaneRuntimeError.h"

namespace orvane {

OrvaneRuntimeError OrvaneRuntimeError::deviceLimit(qint64 active, qint64 max) {
    OrvaneRuntimeError e(Case::deviceLimit);
    e.m_active = active;
    e.m_max = max;
    return e;
}

OrvaneRuntimeError OrvaneRuntimeError::connectionFailed(QString message) {
    OrvaneRuntimeError e(Case::connectionFailed);
    e.m_message = std::move(message);
    return e;
}

OrvaneRuntimeError OrvaneRuntimeError::invalidEmail() { return OrvaneRuntimeError(Case::invalidEmail); }

OrvaneRuntimeError OrvaneRuntimeError::missingProtocolConfig() {
    return OrvaneRuntimeError(Case::missingProtocolConfig);
}

OrvaneRuntimeError OrvaneRuntimeError::noDeviceSlots() {
    return OrvaneRuntimeError(Case::noDeviceSlots);
}

QString OrvaneRuntimeError::localizedDescription() const {
    switch (m_case) {
    case Case::deviceLimit:
        return QStringLiteral("已绑定设备 ") + QString::number(m_active) + QStringLiteral("/") +
               QString::number(m_max) + QStringLiteral("，请先在设置中解绑不用的设备。");
    case Case::connectionFailed:
        return m_message;
    case Case::invalidEmail:
        return QStringLiteral("请填写有效的邮箱地址。");
    case Case::missingProtocolConfig:
        return QStringLiteral("服务端没有返回可用协议配置。");
    case Case::noDeviceSlots:
        return QStringLiteral("当前套餐未开放设备绑定，请先开通或续费套餐。");
    }
    return {};
}

} // namespace orvane
