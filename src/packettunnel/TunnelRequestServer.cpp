#include "TunnelRequestServer.h"

#include "TunnelProviderProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <istream>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

namespace {

// QJsonObject sorts its keys; answers keep id and op first so a reader can scan them.
struct Field {
    QString key;
    QByteArray json;
};
using Fields = std::vector<Field>;

QByteArray encodeValue(const QJsonValue& value) {
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray encodeObject(const Fields& fields) {
    QByteArray text = "{";
    for (const Field& field : fields) {
        if (text.size() > 1) {
            text += ',';
        }
        text += encodeValue(field.key) + ':' + field.json;
    }
    return text + '}';
}

QByteArray failure(Fields head, const QString& description) {
    head.push_back({QStringLiteral("ok"), encodeValue(false)});
    head.push_back({QStringLiteral("error"),
                    encodeObject({{QStringLiteral("description"), encodeValue(description)}})});
    return encodeObject(head);
}

QByteArray success(Fields head) {
    head.push_back({QStringLiteral("ok"), encodeValue(true)});
    return encodeObject(head);
}

QString malformed(const QString& detail) {
    return QStringLiteral("无法解析请求：") + detail;
}

const QString kTunnelProviderClass = QStringLiteral("TunnelProviderProtocol");

// Absent and null both mean "not given".
bool isGiven(const QJsonValue& value) {
    return !value.isUndefined() && !value.isNull();
}

QByteArray answerStart(PacketTunnelProviderBase& provider, const QJsonObject& request,
                       Fields head) {
    const QJsonValue options = request.value(QStringLiteral("options"));
    if (isGiven(options) && !options.isObject()) {
        return failure(head, malformed(QStringLiteral("options 必须是 JSON 对象。")));
    }
    const QJsonValue className = request.value(QStringLiteral("protocolConfigurationClass"));
    if (isGiven(className) && !className.isString()) {
        return failure(head,
                       malformed(QStringLiteral("protocolConfigurationClass 必须是字符串。")));
    }
    const QJsonValue configuration = request.value(QStringLiteral("providerConfiguration"));
    if (isGiven(configuration) && !configuration.isObject()) {
        return failure(head, malformed(QStringLiteral("providerConfiguration 必须是 JSON 对象。")));
    }

    if (!isGiven(className) || className.toString() == kTunnelProviderClass) {
        std::optional<QVariantMap> map;
        if (isGiven(configuration)) {
            map = configuration.toObject().toVariantMap();
        }
        provider.setProtocolConfiguration(std::make_shared<TunnelProviderProtocol>(std::move(map)));
    } else {
        provider.setProtocolConfiguration(std::make_shared<VPNProtocol>());
    }

    std::optional<QVariantMap> optionMap;
    if (isGiven(options)) {
        optionMap = options.toObject().toVariantMap();
    }
    // Shared, not captured by reference: a provider may keep its handler beyond this call.
    auto outcome = std::make_shared<std::optional<std::optional<BridgedError>>>();
    provider.startTunnel(optionMap, [outcome](std::optional<BridgedError> error) {
        if (!*outcome) {
            *outcome = std::move(error);
        }
    });
    if (!*outcome) {
        return failure(head, QStringLiteral("隧道提供者没有答复启动请求。"));
    }
    const std::optional<BridgedError>& error = **outcome;
    if (!error) {
        return success(head);
    }
    head.push_back({QStringLiteral("ok"), encodeValue(false)});
    head.push_back({QStringLiteral("error"),
                    encodeObject({
                        {QStringLiteral("domain"), encodeValue(error->domain)},
                        {QStringLiteral("code"), encodeValue(error->code)},
                        {QStringLiteral("description"), encodeValue(error->localizedDescription)},
                    })});
    return encodeObject(head);
}

QByteArray answerStop(PacketTunnelProviderBase& provider, const QJsonObject& request, Fields head) {
    const QJsonValue reason = request.value(QStringLiteral("reason"));
    int reasonCode = 0;
    if (isGiven(reason)) {
        const double number = reason.toDouble();
        const bool isInt = reason.isDouble() && std::trunc(number) == number &&
                           number >= std::numeric_limits<int>::min() &&
                           number <= std::numeric_limits<int>::max();
        if (!isInt) {
            return failure(head, malformed(QStringLiteral("reason 必须是整数。")));
        }
        reasonCode = static_cast<int>(number);
    }
    auto stopped = std::make_shared<bool>(false);
    provider.stopTunnel(static_cast<PacketTunnelProviderBase::StopReason>(reasonCode),
                        [stopped] { *stopped = true; });
    if (!*stopped) {
        return failure(head, QStringLiteral("隧道提供者没有答复停止请求。"));
    }
    return success(head);
}

} // namespace

TunnelRequestServer::TunnelRequestServer(PacketTunnelProviderBase& provider)
    : m_provider(provider) {}

QByteArray TunnelRequestServer::answer(const QByteArray& line) {
    if (line.trimmed().isEmpty()) {
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return failure({}, malformed(parseError.errorString()));
    }
    if (!document.isObject()) {
        return failure({}, malformed(QStringLiteral("请求必须是 JSON 对象。")));
    }
    const QJsonObject request = document.object();

    Fields head;
    if (request.contains(QStringLiteral("id"))) {
        head.push_back({QStringLiteral("id"), encodeValue(request.value(QStringLiteral("id")))});
    }
    const QJsonValue op = request.value(QStringLiteral("op"));
    if (!op.isString()) {
        return failure(head, malformed(QStringLiteral("缺少字符串类型的 op 字段。")));
    }
    head.push_back({QStringLiteral("op"), encodeValue(op)});

    if (op.toString() == QStringLiteral("start")) {
        return answerStart(m_provider, request, std::move(head));
    }
    if (op.toString() == QStringLiteral("stop")) {
        return answerStop(m_provider, request, std::move(head));
    }
    return failure(head, QStringLiteral("未知的请求类型：") + op.toString());
}

int TunnelRequestServer::serve(std::istream& in, std::ostream& out) {
    std::string line;
    while (std::getline(in, line)) {
        const QByteArray reply = answer(QByteArray::fromStdString(line));
        if (reply.isEmpty()) {
            continue;
        }
        out.write(reply.constData(), reply.size());
        out.put('\n');
        // Each answer goes out before the next request is read: the caller waits for it.
        out.flush();
        if (!out) {
            return 1;
        }
    }
    return 0;
}

} // namespace orvane
