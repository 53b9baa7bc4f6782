#include "SingBoxRuntimeError.h"

namespace orvane {

SingBoxRuntimeError SingBoxRuntimeError::invalidConfig(QString text) {
    return {Case::invalidConfig, std::move(text)};
}
SingBoxRuntimeError SingBoxRuntimeError::exitedEarly(QString text) {
    return {Case::exitedEarly, std::move(text)};
}
SingBoxRuntimeError SingBoxRuntimeError::privilegedLaunchFailed(QString text) {
    return {Case::privilegedLaunchFailed, std::move(text)};
}
SingBoxRuntimeError SingBoxRuntimeError::reloadFailed(QString text) {
    return {Case::reloadFailed, std::move(text)};
}
SingBoxRuntimeError SingBoxRuntimeError::portInUse(int port, QString owner) {
    return {Case::portInUse, std::move(owner), port};
}
SingBoxRuntimeError SingBoxRuntimeError::missingBinary() { return {Case::missingBinary, {}}; }
SingBoxRuntimeError SingBoxRuntimeError::staleRuntimeNeedsCleanup() {
    return {Case::staleRuntimeNeedsCleanup, {}};
}

QString SingBoxRuntimeError::localizedDescription() const {
    switch (m_case) {
    case Case::invalidConfig:
        return QStringLiteral("sing-box 配置校验失败：") + m_text;
    case Case::exitedEarly:
        return QStringLiteral("sing-box 启动后立即退出：") + m_text;
    case Case::privilegedLaunchFailed:
        return QStringLiteral("sing-box 管理员权限启动失败：") + m_text;
    case Case::reloadFailed:
        return QStringLiteral("sing-box 热重载失败：") + m_text;
    case Case::portInUse:
        return QStringLiteral("本地代理端口 ") + QString::number(m_port) +
               QStringLiteral(" 已被占用，请退出旧版 Orvane 或占用该端口的程序后重试。占用进程：") +
               m_text;
    case Case::missingBinary:
        return QStringLiteral("未找到 sing-box 内核。正式安装包需要在 App 资源中内置 sing-box。");
    case Case::staleRuntimeNeedsCleanup:
        break;
    }
    return QStringLiteral(
        "检测到旧连接残留，需要清理后再连接。请先退出旧版 Orvane，或重启电脑后重试。");
}

} // namespace orvane
