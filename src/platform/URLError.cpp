#include "URLError.h"

namespace orvane {

URLError::URLError(Code code, QString detail) : m_code(code), m_detail(std::move(detail)) {}

QString URLError::localizedDescription() const {
    switch (m_code) {
    case Code::cancelled:
        return QStringLiteral("已取消");
    case Code::badURL:
        return QStringLiteral("URL 无效。");
    case Code::unsupportedURL:
        return QStringLiteral("不支持的 URL。");
    case Code::timedOut:
        return QStringLiteral("请求超时。");
    case Code::cannotFindHost:
        return QStringLiteral("未能找到使用指定主机名的服务器。");
    case Code::cannotConnectToHost:
        return QStringLiteral("未能连接到服务器。");
    case Code::networkConnectionLost:
        return QStringLiteral("网络连接已中断。");
    case Code::dnsLookupFailed:
        return QStringLiteral("DNS 查询失败。");
    case Code::notConnectedToInternet:
        return QStringLiteral("似乎已断开与互联网的连接。");
    case Code::badServerResponse:
        return QStringLiteral("服务器响应无效。");
    case Code::secureConnectionFailed:
        return QStringLiteral("发生了 SSL 错误，无法建立与该服务器的安全连接。");
    case Code::serverCertificateUntrusted:
        return QStringLiteral("此服务器的证书无效。");
    case Code::appTransportSecurityRequiresSecureConnection:
        return QStringLiteral("由于安全策略要求使用安全连接，无法载入该资源。");
    case Code::unknown:
        break;
    }
    return QStringLiteral("发生了未知错误。");
}

} // namespace orvane
