#include "NetworkSetupTool.h"

#include "NetworkState.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace orvane::standin {

namespace {

enum class Verb { List, GetProxy, SetProxy, SetState, GetBypass, SetBypass };

struct VerbInfo {
    const char* option;
    Verb verb;
    const char* kind; // proxy key in the state, or nullptr
};

constexpr VerbInfo kVerbs[] = {
    {"-listallnetworkservices", Verb::List, nullptr},
    {"-getwebproxy", Verb::GetProxy, "web"},
    {"-getsecurewebproxy", Verb::GetProxy, "secureWeb"},
    {"-getsocksfirewallproxy", Verb::GetProxy, "socks"},
    {"-setwebproxy", Verb::SetProxy, "web"},
    {"-setsecurewebproxy", Verb::SetProxy, "secureWeb"},
    {"-setsocksfirewallproxy", Verb::SetProxy, "socks"},
    {"-setwebproxystate", Verb::SetState, "web"},
    {"-setsecurewebproxystate", Verb::SetState, "secureWeb"},
    {"-setsocksfirewallproxystate", Verb::SetState, "socks"},
    {"-getproxybypassdomains", Verb::GetBypass, nullptr},
    {"-setproxybypassdomains", Verb::SetBypass, nullptr},
};

const QByteArray kInvalid = "** Error: The parameters were not valid.\n";

bool isSetVerb(Verb verb) {
    return verb == Verb::SetProxy || verb == Verb::SetState || verb == Verb::SetBypass;
}

QStringList knobList(const QJsonObject& knobs, const char* key) {
    QStringList list;
    for (const QJsonValue& value : knobs.value(QLatin1String(key)).toArray()) {
        list << value.toString();
    }
    return list;
}

ToolResult usage(const QString& verb) {
    return ToolResult::fail(1,
                            QStringLiteral("networksetup: unknown option %1\nUsage: networksetup "
                                           "-listallnetworkservices | -get... | -set...\n")
                                .arg(verb)
                                .toUtf8());
}

QByteArray proxyReading(const NetworkState::Proxy& proxy) {
    return QStringLiteral("Enabled: %1\nServer: %2\nPort: %3\nAuthenticated Proxy Enabled: %4\n")
        .arg(proxy.enabled ? QStringLiteral("Yes") : QStringLiteral("No"), proxy.server)
        .arg(proxy.port)
        .arg(proxy.authenticated ? 1 : 0)
        .toUtf8();
}

std::optional<bool> onOff(const QString& word) {
    if (word.compare(u"on", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (word.compare(u"off", Qt::CaseInsensitive) == 0) {
        return false;
    }
    return std::nullopt;
}

std::optional<qint64> portNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(text).hasMatch()) {
        return std::nullopt;
    }
    const qint64 port = text.toLongLong();
    return port <= 65535 ? std::optional<qint64>(port) : std::nullopt;
}

// Right argument count for each verb, counted after the verb itself.
bool argumentCountFits(Verb verb, qsizetype count) {
    switch (verb) {
    case Verb::List:
        return count == 0;
    case Verb::GetProxy:
    case Verb::GetBypass:
        return count == 1;
    case Verb::SetProxy:
        // service host port [on|off [user password]]
        return count == 3 || count == 4 || count == 6;
    case Verb::SetState:
        return count == 2;
    case Verb::SetBypass:
        return count >= 2;
    }
    return false;
}

} // namespace

ToolResult NetworkSetupTool::run(const StandinHome& home, const QStringList& args) {
    if (args.isEmpty()) {
        return usage(QString());
    }
    const VerbInfo* info = nullptr;
    for (const VerbInfo& candidate : kVerbs) {
        if (args.first() == QLatin1String(candidate.option)) {
            info = &candidate;
        }
    }
    if (!info) {
        return usage(args.first());
    }
    const QStringList rest = args.mid(1);
    if (!argumentCountFits(info->verb, rest.size())) {
        return ToolResult::fail(4, kInvalid);
    }

    QString error;
    const std::optional<QJsonDocument> document = home.readJson(StandinHome::kNetworkFile, &error);
    if (!error.isEmpty()) {
        return ToolResult::fail(2, error.toUtf8() + '\n');
    }
    NetworkState state =
        NetworkState::fromJson(document ? document->object() : NetworkState::defaultJson());
    const QJsonObject knobs = state.knobs();

    if (info->verb == Verb::List) {
        QByteArray out = "An asterisk (*) denotes that a network service is disabled.\n";
        for (const NetworkState::Service& service : state.services()) {
            out += (service.disabled ? "*" : "") + service.name.toUtf8() + '\n';
        }
        return ToolResult::ok(out);
    }

    const QString serviceName = rest.first();
    NetworkState::Service* service = state.find(serviceName);
    if (!service) {
        return ToolResult::fail(4, "** Error: Unable to find item in network database.\n");
    }
    const QString kind = info->kind ? QLatin1String(info->kind) : QString();

    if (info->verb == Verb::GetProxy) {
        return ToolResult::ok(proxyReading(*service->proxy(kind)));
    }
    if (info->verb == Verb::GetBypass) {
        if (service->bypass.isEmpty()) {
            return ToolResult::ok(QStringLiteral("There aren't any bypass domains set on %1.\n")
                                      .arg(serviceName)
                                      .toUtf8());
        }
        return ToolResult::ok(service->bypass.join(QLatin1Char('\n')).toUtf8() + '\n');
    }

    // Every set verb: check its words before any knob, as the real tool parses first.
    std::optional<qint64> port;
    std::optional<bool> switchWord;
    if (info->verb == Verb::SetProxy) {
        port = portNumber(rest.at(2));
        if (rest.size() > 3) {
            switchWord = onOff(rest.at(3));
        }
        if (rest.at(1).isEmpty() || !port || (rest.size() > 3 && !switchWord) ||
            (rest.size() == 6 && !*switchWord)) {
            return ToolResult::fail(4, kInvalid);
        }
    } else if (info->verb == Verb::SetState) {
        switchWord = onOff(rest.at(1));
        if (!switchWord) {
            return ToolResult::fail(4, kInvalid);
        }
    }

    Q_ASSERT(isSetVerb(info->verb));
    if (knobList(knobs, "failVerbs").contains(args.first()) ||
        knobList(knobs, "failServices").contains(serviceName)) {
        return ToolResult::fail(
            1,
            QStringLiteral("** Error: Unable to commit changes to network database.\n").toUtf8());
    }
    if (knobs.value(QStringLiteral("setNeedsAdmin")).toBool() && !StandinHome::runningAsAdmin()) {
        return ToolResult::fail(1, "You need administrator privileges to run this command\n");
    }

    switch (info->verb) {
    case Verb::SetProxy: {
        NetworkState::Proxy* proxy = service->proxy(kind);
        proxy->server = rest.at(1);
        proxy->port = *port;
        proxy->authenticated = switchWord.value_or(false);
        proxy->enabled = true;
        break;
    }
    case Verb::SetState:
        service->proxy(kind)->enabled = *switchWord;
        break;
    case Verb::SetBypass: {
        const QStringList domains = rest.mid(1);
        const bool clear =
            domains.size() == 1 && domains.first().compare(u"Empty", Qt::CaseInsensitive) == 0;
        service->bypass = clear ? QStringList() : domains;
        break;
    }
    default:
        break;
    }
    if (!home.writeJson(StandinHome::kNetworkFile, QJsonDocument(state.toJson()))) {
        return ToolResult::fail(2, "networksetup stand-in: cannot write network.json\n");
    }
    return ToolResult::ok();
}

} // namespace orvane::standin
