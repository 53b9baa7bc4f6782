#include "ScutilTool.h"

#include "NetworkState.h"

namespace orvane::standin {

namespace {

// One protocol's keys; Port and Proxy appear only when a server is set, as on the real system.
void appendProtocol(QByteArray& out, const char* prefix, const NetworkState::Proxy* proxy) {
    const QByteArray key(prefix);
    out += "  " + key + "Enable : " + (proxy && proxy->enabled ? "1" : "0") + '\n';
    if (proxy && !proxy->server.isEmpty()) {
        out += "  " + key + "Port : " + QByteArray::number(proxy->port) + '\n';
        out += "  " + key + "Proxy : " + proxy->server.toUtf8() + '\n';
    }
}

QByteArray dictionary(const NetworkState::Service* service) {
    QByteArray out = "<dictionary> {\n";
    if (service && !service->bypass.isEmpty()) {
        out += "  ExceptionsList : <array> {\n";
        for (qsizetype i = 0; i < service->bypass.size(); ++i) {
            out += "    " + QByteArray::number(i) + " : " + service->bypass.at(i).toUtf8() + '\n';
        }
        out += "  }\n";
    }
    out += "  FTPPassive : 1\n";
    appendProtocol(out, "HTTP", service ? &service->web : nullptr);
    appendProtocol(out, "HTTPS", service ? &service->secureWeb : nullptr);
    appendProtocol(out, "SOCKS", service ? &service->socks : nullptr);
    out += "}\n";
    return out;
}

} // namespace

ToolResult ScutilTool::run(const StandinHome& home, const QStringList& args) {
    if (args != QStringList{QStringLiteral("--proxy")}) {
        return ToolResult::fail(1, "usage: scutil --proxy (the only form this stand-in knows)\n");
    }
    QString error;
    const std::optional<QJsonDocument> document = home.readJson(StandinHome::kNetworkFile, &error);
    if (!error.isEmpty()) {
        return ToolResult::fail(2, error.toUtf8() + '\n');
    }
    NetworkState state =
        NetworkState::fromJson(document ? document->object() : NetworkState::defaultJson());

    QJsonObject knobs = state.knobs();
    const qint64 stale = knobs.value(QStringLiteral("scutilStaleCalls")).toInteger();
    if (stale > 0) {
        knobs[QStringLiteral("scutilStaleCalls")] = stale - 1;
        state.setKnobs(knobs);
        home.writeJson(StandinHome::kNetworkFile, QJsonDocument(state.toJson()));
        return ToolResult::ok(dictionary(nullptr));
    }

    const NetworkState::Service* chosen = nullptr;
    for (const NetworkState::Service& service : state.services()) {
        if (service.disabled) {
            continue;
        }
        if (service.anyProxyEnabled()) {
            chosen = &service;
            break;
        }
        if (!chosen) {
            chosen = &service;
        }
    }
    return ToolResult::ok(dictionary(chosen));
}

} // namespace orvane::standin
