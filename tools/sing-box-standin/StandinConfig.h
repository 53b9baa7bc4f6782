#pragma once

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace orvane {

// A configuration file as far as the stand-in understands it: the inbounds to serve, the
// outbounds by tag, a little of the routing, and the fault knobs under "_standin".
class StandinConfig {
public:
    struct Inbound {
        QString type; // "mixed", "socks" or "http"
        QString tag;  // empty when the file gives none
        QString listen;
        quint16 port = 0;

        QString name() const;
    };

    struct Knobs {
        std::optional<QString> failCheck;
        std::optional<int> exitAfterMs;
        QString exitLog;
        bool ignoreSigterm = false;
        bool dieOnSighup = false;
        bool ansiLog = false;
        int startDelayMs = 0;
    };

    // Reads and validates the file; `error()` tells what is wrong with it.
    static StandinConfig load(const QString& path);

    // One diagnostic line, or empty when the file is usable.
    const QString& error() const { return m_error; }
    // The error is a knob's text, to be printed as it is.
    bool errorIsVerbatim() const { return m_errorVerbatim; }
    const QList<Inbound>& inbounds() const { return m_inbounds; }
    const Knobs& knobs() const { return m_knobs; }

    // The outbound tag a connection from `inboundTag` to `host` goes out through, and whether
    // that outbound refuses it.
    std::pair<QString, bool> route(const QString& inboundTag, const QString& host) const;

private:
    struct Rule {
        QStringList inbounds;
        QStringList domains;
        QStringList suffixes;
        QList<std::pair<QHostAddress, int>> subnets;
        QString outbound;
        bool usable = true;
    };

    bool matches(const Rule& rule, const QString& inboundTag, const QString& host) const;

    QString m_error;
    bool m_errorVerbatim = false;
    QList<Inbound> m_inbounds;
    QMap<QString, QString> m_outboundTypes; // tag -> lower-cased type
    QString m_defaultOutbound;
    QList<Rule> m_rules;
    Knobs m_knobs;
};

} // namespace orvane
