#include "OrvaneAPIError.h"

namespace orvane {

OrvaneAPIError OrvaneAPIError::server(int statusCode, std::optional<QString> message) {
    OrvaneAPIError e(Case::server);
    e.m_statusCode = statusCode;
    e.m_message = std::move(message);
    return e;
}

OrvaneAPIError OrvaneAPIError::invalidResponse() { return OrvaneAPIError(Case::invalidResponse); }

QString OrvaneAPIError::localizedDescription() const {
    switch (m_case) {
    case Case::server:
        if (m_message) {
            return *m_message;
        }
        return QStringLiteral("服务端返回错误：") + QString::number(m_statusCode);
    case Case::invalidResponse:
        break;
    }
    return QStringLiteral("服务端响应格式异常");
}

APIRequestError APIRequestError::invalidDeviceId(QString deviceId) {
    return APIRequestError(Case::invalidDeviceId, std::move(deviceId));
}

APIRequestError APIRequestError::invalidHeader(QString name) {
    return APIRequestError(Case::invalidHeader, std::move(name));
}

QString APIRequestError::localizedDescription() const {
    switch (m_case) {
    case Case::invalidDeviceId:
        return QStringLiteral("设备标识无效，请求未发送。");
    case Case::invalidHeader:
        break;
    }
    return QStringLiteral("请求头含有非法字符，请求未发送。");
}

} // namespace orvane
