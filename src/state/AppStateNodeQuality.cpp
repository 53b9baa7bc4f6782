// Ranking of the nodes by what the service lists and what this machine saw before.
#include "AppState.h"

#include "TunnelCoordinatorError.h"

#include <algorithm>

namespace orvane {

namespace {

double secondsSince1970(const QDateTime& time) {
    return static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

double AppState::endpointQualityScore(const Endpoint& endpoint, bool forAI, double now) const {
    const double latency = endpoint.latencyMs >= 1 ? static_cast<double>(endpoint.latencyMs) : 180;
    const double load = static_cast<double>(std::clamp<qint64>(endpoint.loadPercent, 0, 100));
    double score = forAI ? 1000 - 1.6 * latency - 3.2 * load : 1000 - 1.2 * latency - 2.4 * load;

    switch (endpoint.preferredProtocol) {
    case ProtocolKind::hysteria2:
        score += forAI ? 30 : 60;
        break;
    case ProtocolKind::vless:
        score += forAI ? 160 : 140;
        break;
    case ProtocolKind::unknown:
        score += forAI ? -60 : 0;
        break;
    }
    switch (endpoint.status) {
    case NodeStatus::online:
        score += 80;
        break;
    case NodeStatus::checking:
        score -= 120;
        break;
    case NodeStatus::offline:
        score -= 1000;
        break;
    }
    if (forAI) {
        const QString text = (endpoint.region + QLatin1Char(' ') + endpoint.name).toLower();
        if (text.contains(QStringLiteral("ai")) || text.contains(QStringLiteral("stable")) ||
            text.contains(QStringLiteral("premium"))) {
            score += 70;
        }
        if (load < 36) {
            score += 40;
        }
    }

    const auto found = m_endpointQualityStats.constFind(endpoint.id);
    if (found == m_endpointQualityStats.constEnd()) {
        return score;
    }
    const EndpointQualityStats& stats = *found;
    score += 12.0 * static_cast<double>(std::min<qint64>(stats.successfulConnections, 12));
    score -= 28.0 * static_cast<double>(std::min<qint64>(stats.failedConnections, 12));
    score -= (forAI ? 130.0 : 90.0) * static_cast<double>(stats.consecutiveFailures);
    if (stats.averageLatencyMs) {
        score -= (forAI ? 0.45 : 0.3) * *stats.averageLatencyMs;
    }
    if (stats.lastFailureAt) {
        const double age = now - *stats.lastFailureAt;
        if (age < 300) {
            score -= forAI ? 360 : 240;
        } else if (age < 1800) {
            score -= forAI ? 220 : 140;
        } else if (age < 7200) {
            score -= forAI ? 100 : 60;
        }
    }
    if (stats.lastSuccessAt && now - *stats.lastSuccessAt < 3600) {
        score += 60;
    }
    return score;
}

QList<Endpoint> AppState::sortedConnectionEndpoints(const QList<Endpoint>& endpoints,
                                                    bool forAI) const {
    const double now = secondsSince1970(m_deps.wallClock());
    struct Ranked {
        double score;
        qsizetype index;
    };
    QList<Ranked> ranked;
    ranked.reserve(endpoints.size());
    for (qsizetype i = 0; i < endpoints.size(); ++i) {
        ranked.append({endpointQualityScore(endpoints[i], forAI, now), i});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [&endpoints](const Ranked& a, const Ranked& b) {
        if (a.score != b.score) {
            return a.score > b.score;
        }
        return endpoints[a.index].latencyMs < endpoints[b.index].latencyMs;
    });
    QList<Endpoint> sorted;
    sorted.reserve(endpoints.size());
    for (const Ranked& r : ranked) {
        sorted.append(endpoints[r.index]);
    }
    return sorted;
}

std::optional<Endpoint> AppState::recommendedEndpoint(const QList<Endpoint>& endpoints) const {
    QList<Endpoint> usable;
    for (const Endpoint& endpoint : endpoints) {
        if (endpoint.status != NodeStatus::offline) {
            usable.append(endpoint);
        }
    }
    const QList<Endpoint> sorted = sortedConnectionEndpoints(usable, m_aiEnhancedModeEnabled);
    if (sorted.isEmpty()) {
        return std::nullopt;
    }
    return sorted.first();
}

QList<Endpoint> AppState::connectionCandidates(const Endpoint& startingWith,
                                               const QSet<QString>& excluding) const {
    QList<Endpoint> kept;
    for (const Endpoint& endpoint : m_endpoints) {
        if (endpoint.status != NodeStatus::offline && !excluding.contains(endpoint.id)) {
            kept.append(endpoint);
        }
    }
    QList<Endpoint> result;
    QSet<QString> seen;
    auto add = [&](const Endpoint& endpoint) {
        if (!seen.contains(endpoint.id)) {
            seen.insert(endpoint.id);
            result.append(endpoint);
        }
    };
    if (!m_aiEnhancedModeEnabled && startingWith.preferredProtocol != ProtocolKind::hysteria2 &&
        !excluding.contains(startingWith.id)) {
        add(startingWith);
    }
    for (const Endpoint& endpoint : sortedConnectionEndpoints(kept, m_aiEnhancedModeEnabled)) {
        add(endpoint);
    }
    return result.mid(0, m_maxConnectionCandidates);
}

void AppState::recordEndpointSuccess(const Endpoint& endpoint) {
    EndpointQualityStats stats = m_endpointQualityStats.value(endpoint.id);
    stats.successfulConnections += 1;
    stats.consecutiveFailures = 0;
    stats.lastSuccessAt = secondsSince1970(m_deps.wallClock());
    if (endpoint.latencyMs >= 1) {
        const double latency = static_cast<double>(endpoint.latencyMs);
        stats.averageLatencyMs =
            stats.averageLatencyMs ? 0.7 * *stats.averageLatencyMs + 0.3 * latency : latency;
    }
    m_endpointQualityStats.insert(endpoint.id, stats);
    saveEndpointQualityStats();
}

void AppState::recordEndpointFailure(const Endpoint& endpoint, const QString& reason) {
    // A tool missing on this machine says nothing about the node.
    if (TunnelCoordinatorError::describesMissingSystemTool(reason)) {
        return;
    }
    EndpointQualityStats stats = m_endpointQualityStats.value(endpoint.id);
    stats.failedConnections += 1;
    stats.consecutiveFailures += 1;
    stats.lastFailureAt = secondsSince1970(m_deps.wallClock());
    m_endpointQualityStats.insert(endpoint.id, stats);
    saveEndpointQualityStats();
}

} // namespace orvane
