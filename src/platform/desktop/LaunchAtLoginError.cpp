#include "LaunchAtLoginError.h"

namespace orvane {

LaunchAtLoginError::LaunchAtLoginError(QString reason) : m_reason(std::move(reason)) {}

QString LaunchAtLoginError::localizedDescription() const {
    return QStringLiteral("无法更新开机启动设置：%1").arg(m_reason);
}

} // namespace orvane
