#include "TunnelCoordinatorError.h"

namespace orvane {

namespace {

const QString kMissingToolOpening = QStringLiteral("缺少系统工具 ");

} // namespace

TunnelCoordinatorError TunnelCoordinatorError::commandFailed(QString text) {
    return TunnelCoordinatorError(Case::commandFailed, std::move(text));
}

TunnelCoordinatorError TunnelCoordinatorError::missingProtocolConfig() {
    return TunnelCoordinatorError(Case::missingProtocolConfig, QString());
}

TunnelCoordinatorError TunnelCoordinatorError::reloadRollbackFailed(QString text) {
    return TunnelCoordinatorError(Case::reloadRollbackFailed, std::move(text));
}

TunnelCoordinatorError TunnelCoordinatorError::missingSystemTool(QString path) {
    return TunnelCoordinatorError(Case::missingSystemTool, std::move(path));
}

bool TunnelCoordinatorError::describesMissingSystemTool(const QString& description) {
    return description.contains(kMissingToolOpening);
}

QString TunnelCoordinatorError::localizedDescription() const {
    switch (m_case) {
    case Case::commandFailed:
        // A tool that failed silently still needs a sentence.
        if (m_text.trimmed().isEmpty()) {
            return QStringLiteral("协议内核命令执行失败。");
        }
        return m_text;
    case Case::missingProtocolConfig:
        return QStringLiteral("没有可用的协议配置。");
    case Case::reloadRollbackFailed:
        return QStringLiteral("配置热重载失败且未能恢复原配置，连接已中断：") + m_text;
    case Case::missingSystemTool:
        return kMissingToolOpening + m_text + QStringLiteral("，无法设置系统代理。");
    }
    return {};
}

} // namespace orvane
