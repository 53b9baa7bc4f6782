#include "NetworkState.h"

#include <QJsonArray>

namespace orvane::standin {

namespace {

const QString kWeb = QStringLiteral("web");
const QString kSecureWeb = QStringLiteral("secureWeb");
const QString kSocks = QStringLiteral("socks");

NetworkState::Proxy proxyFromJson(const QJsonObject& json) {
    NetworkState::Proxy proxy;
    proxy.enabled = json.value(QStringLiteral("enabled")).toBool();
    proxy.server = json.value(QStringLiteral("server")).toString();
    proxy.port = json.value(QStringLiteral("port")).toInteger();
    proxy.authenticated = json.value(QStringLiteral("authenticated")).toBool();
    return proxy;
}

QJsonObject proxyToJson(const NetworkState::Proxy& proxy) {
    QJsonObject json;
    json[QStringLiteral("enabled")] = proxy.enabled;
    json[QStringLiteral("server")] = proxy.server;
    json[QStringLiteral("port")] = proxy.port;
    json[QStringLiteral("authenticated")] = proxy.authenticated;
    return json;
}

QJsonObject serviceJson(const QString& name, bool disabled) {
    const QJsonObject off = proxyToJson({});
    QJsonObject json;
    json[QStringLiteral("name")] = name;
    json[QStringLiteral("disabled")] = disabled;
    json[kWeb] = off;
    json[kSecureWeb] = off;
    json[kSocks] = off;
    json[QStringLiteral("bypass")] = QJsonArray();
    return json;
}

} // namespace

NetworkState::Proxy* NetworkState::Service::proxy(const QString& key) {
    if (key == kWeb) {
        return &web;
    }
    if (key == kSecureWeb) {
        return &secureWeb;
    }
    if (key == kSocks) {
        return &socks;
    }
    return nullptr;
}

const NetworkState::Proxy* NetworkState::Service::proxy(const QString& key) const {
    return const_cast<Service*>(this)->proxy(key);
}

QJsonObject NetworkState::defaultJson() {
    QJsonObject json;
    json[QStringLiteral("services")] = QJsonArray{
        serviceJson(QStringLiteral("Wi-Fi"), false), serviceJson(QStringLiteral("Ethernet"), false),
        serviceJson(QStringLiteral("Bluetooth PAN"), true)};
    json[QStringLiteral("knobs")] = QJsonObject();
    return json;
}

NetworkState NetworkState::fromJson(const QJsonObject& json) {
    NetworkState state;
    state.m_json = json;
    const QJsonArray services = json.value(QStringLiteral("services")).toArray();
    for (const QJsonValue& value : services) {
        const QJsonObject object = value.toObject();
        Service service;
        service.name = object.value(QStringLiteral("name")).toString();
        service.disabled = object.value(QStringLiteral("disabled")).toBool();
        service.web = proxyFromJson(object.value(kWeb).toObject());
        service.secureWeb = proxyFromJson(object.value(kSecureWeb).toObject());
        service.socks = proxyFromJson(object.value(kSocks).toObject());
        for (const QJsonValue& entry : object.value(QStringLiteral("bypass")).toArray()) {
            service.bypass << entry.toString();
        }
        state.m_services << service;
    }
    return state;
}

QJsonObject NetworkState::toJson() const {
    QJsonObject json = m_json;
    const QJsonArray original = m_json.value(QStringLiteral("services")).toArray();
    QJsonArray services;
    for (qsizetype i = 0; i < m_services.size(); ++i) {
        const Service& service = m_services.at(i);
        QJsonObject object = i < original.size() ? original.at(i).toObject() : QJsonObject();
        object[QStringLiteral("name")] = service.name;
        object[QStringLiteral("disabled")] = service.disabled;
        object[kWeb] = proxyToJson(service.web);
        object[kSecureWeb] = proxyToJson(service.secureWeb);
        object[kSocks] = proxyToJson(service.socks);
        object[QStringLiteral("bypass")] = QJsonArray::fromStringList(service.bypass);
        services.append(object);
    }
    json[QStringLiteral("services")] = services;
    return json;
}

NetworkState::Service* NetworkState::find(const QString& name) {
    for (Service& service : m_services) {
        if (service.name == name) {
            return &service;
        }
    }
    return nullptr;
}

} // namespace orvane::standin
