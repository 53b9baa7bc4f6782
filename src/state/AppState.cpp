// The state model: construction, published values, preferences, the log, the statistics and
// the quick-connect cache, the speed timer and detached work.
#include "AppState.h"

#include "AppFolders.h"
#include "AtomicFile.h"
#include "DecodingError.h"
#include "LocalizedError.h"
#include "OrvaneAPIClient.h"
#include "PreferenceKeys.h"
#include "Preferences.h"

#include <QDir>
#include <QFile>
#include <QPointer>

#include <algorithm>

namespace orvane {

namespace {

constexpr int kLogLimit = 30;

template <typename T>
bool assign(T& member, T value) {
    if (member == value) {
        return false;
    }
    member = std::move(value);
    return true;
}

QCoro::Task<void> runDetached(QPointer<AppState> state, QCoro::Task<void> task) {
    try {
        co_await std::move(task);
    } catch (...) {
        // Flows report their own failures; this only keeps a stray one from vanishing.
        if (state) {
            state->appendLog(QStringLiteral("后台任务失败：") +
                             describeError(std::current_exception()));
        }
    }
}

} // namespace

AppState::AppState(AppStateDependencies dependencies, QObject* parent)
    : QObject(parent),
      m_deps(std::move(dependencies)),
      m_preferences(*m_deps.preferences),
      m_api(*m_deps.api),
      m_tunnel(*m_deps.tunnel),
      m_endpoints(placeholderEndpoints()),
      m_plans(placeholderPlans()),
      m_deviceIdentity(*m_deps.preferences) {
    m_flows = new ConnectionFlows(this);
    QObject::connect(m_flows, &ConnectionFlows::busyChanged, this, &AppState::busyChanged);
    m_currentAttemptStartedAt = m_deps.wallClock();
    m_endpointQualityStats = loadEndpointQualityStats();
    m_quickConnectCache = loadQuickConnectCache();
    m_logs.clear();
    loadPreferences();
    appendLog(QStringLiteral("客户端已就绪。"));
    startNetworkSpeedMonitor();
}

AppState::~AppState() {
    // The flows outlive this object's own members: they tell a half-destroyed state nothing.
    m_flows->disconnect(this);
    m_viewBusyHold.reset();
}

void AppState::loadPreferences() {
    m_launchAtLogin = m_preferences.boolValue(prefkey::launchAtLogin).value_or(false);
    m_menuBarEnabled = m_preferences.boolValue(prefkey::menuBarEnabled).value_or(true);
    m_showMenuBarSpeed = m_preferences.boolValue(prefkey::showMenuBarSpeed).value_or(false);
    m_aiEnhancedModeEnabled = m_preferences.boolValue(prefkey::aiEnhancedMode).value_or(false);
    m_systemProxyEnabled = m_preferences.boolValue(prefkey::systemProxy).value_or(true);
    // The AI region is chosen afresh every run.
    m_preferences.remove(prefkey::aiRegion);
    m_aiRouteChoice = RouteRegionChoice::automatic;
    const QString mode = m_preferences.string(prefkey::outboundMode).value_or(QString());
    m_outboundMode = outboundModeFromRawValue(mode).value_or(OutboundMode::smart);
}

// --- Published values ----------------------------------------------------------------------

void AppState::setSelectedPage(AppPage page) {
    if (assign(m_selectedPage, page)) {
        emit selectedPageChanged();
    }
}

void AppState::setNodesExpanded(bool expanded) {
    if (assign(m_nodesExpanded, expanded)) {
        emit panelsChanged();
    }
}

void AppState::setLogsExpanded(bool expanded) {
    if (assign(m_logsExpanded, expanded)) {
        emit panelsChanged();
    }
}

void AppState::setDevicesExpanded(bool expanded) {
    if (assign(m_devicesExpanded, expanded)) {
        emit panelsChanged();
    }
}

void AppState::setFeedbackExpanded(bool expanded) {
    if (assign(m_feedbackExpanded, expanded)) {
        emit panelsChanged();
    }
}

void AppState::setShowAuthSheet(bool show) {
    if (assign(m_showAuthSheet, show)) {
        emit showAuthSheetChanged();
    }
}

void AppState::setIsBusy(bool busy) {
    if (!busy) {
        m_viewBusyHold.reset();
    } else {
        // Taken before the old one goes, so the mark does not flicker.
        ConnectionFlows::Lease hold = m_flows->holdBusy(ConnectionFlows::Scope::account);
        m_viewBusyHold = std::move(hold);
    }
}

void AppState::setAlertMessage(std::optional<QString> message) {
    if (assign(m_alertMessage, std::move(message))) {
        emit alertMessageChanged();
    }
}

void AppState::setMenuBarEnabled(bool enabled) {
    m_preferences.setBool(prefkey::menuBarEnabled, enabled);
    if (assign(m_menuBarEnabled, enabled)) {
        emit preferencesChanged();
    }
}

void AppState::setShowMenuBarSpeed(bool enabled) {
    m_preferences.setBool(prefkey::showMenuBarSpeed, enabled);
    if (assign(m_showMenuBarSpeed, enabled)) {
        emit preferencesChanged();
    }
}

void AppState::setConnectionState(ConnectionState state) {
    if (assign(m_connectionState, std::move(state))) {
        emit connectionStateChanged();
    }
}

void AppState::setConnectedAt(std::optional<QDateTime> at) {
    if (assign(m_connectedAt, std::move(at))) {
        emit connectionDetailsChanged();
    }
}

void AppState::setAIProxyReady(bool ready) {
    if (assign(m_aiProxyReady, ready)) {
        emit connectionDetailsChanged();
    }
}

void AppState::setSelectedEndpointId(std::optional<QString> id) {
    if (assign(m_selectedEndpointId, std::move(id))) {
        emit selectedEndpointChanged();
    }
}

void AppState::setCurrentUser(std::optional<APIUser> user) {
    if (assign(m_currentUser, std::move(user))) {
        emit accountChanged();
    }
}

void AppState::setCurrentDevice(std::optional<Device> device) {
    if (assign(m_currentDevice, std::move(device))) {
        emit accountChanged();
    }
}

void AppState::setMaxDevices(qint64 value) {
    if (assign(m_maxDevices, value)) {
        emit accountChanged();
    }
}

void AppState::setActiveDeviceCount(qint64 value) {
    if (assign(m_activeDeviceCount, value)) {
        emit accountChanged();
    }
}

void AppState::setEndpoints(QList<Endpoint> endpoints) {
    if (assign(m_endpoints, std::move(endpoints))) {
        emit endpointsChanged();
    }
}

void AppState::setPlans(QList<Plan> plans) {
    if (assign(m_plans, std::move(plans))) {
        emit plansChanged();
    }
}

void AppState::setDevices(QList<Device> devices) {
    if (assign(m_devices, std::move(devices))) {
        emit devicesChanged();
    }
}

void AppState::setTickets(QList<Ticket> tickets) {
    if (assign(m_tickets, std::move(tickets))) {
        emit ticketsChanged();
    }
}

void AppState::setOrders(QList<Order> orders) {
    if (assign(m_orders, std::move(orders))) {
        emit ordersChanged();
    }
}

void AppState::setAIRouteChoice(RouteRegionChoice choice) {
    if (assign(m_aiRouteChoice, choice)) {
        emit preferencesChanged();
    }
}

// --- Log and reporting ---------------------------------------------------------------------

void AppState::appendLog(const QString& message) {
    const QString time = m_deps.wallClock().toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    m_logs.prepend(LogEntry{QUuid::createUuid(), time, message});
    if (m_logs.size() > kLogLimit) {
        m_logs.resize(kLogLimit);
    }
    emit logsChanged();
}

void AppState::present(const std::exception_ptr& error, const QString& fallback) {
    present(describeError(error), fallback);
}

void AppState::present(const QString& description, const QString& fallback) {
    const QString text = description.isEmpty() ? fallback : description;
    setAlertMessage(text);
    appendLog(fallback + QStringLiteral("：") + text);
}

QString AppState::recentLogText(int count) const {
    QStringList lines;
    for (const LogEntry& entry : m_logs.mid(0, count)) {
        lines << entry.time + QLatin1Char(' ') + entry.message;
    }
    return lines.join(QLatin1Char('\n'));
}

void AppState::spawn(QCoro::Task<void> task) {
    ++m_runningTasks;
    QPointer<AppState> self(this);
    // The wrapper is eager and frees itself when done; the count tells tests when all is.
    [](QPointer<AppState> state, QCoro::Task<void> work) -> QCoro::Task<void> {
        co_await runDetached(state, std::move(work));
        if (state) {
            --state->m_runningTasks;
        }
    }(self, std::move(task));
}

// --- Statistics and the quick-connect cache ------------------------------------------------

EndpointQualityStatsMap AppState::loadEndpointQualityStats() const {
    const auto data = m_preferences.data(prefkey::qualityStats);
    if (!data) {
        return {};
    }
    return decodeEndpointQualityStats(*data).value_or(EndpointQualityStatsMap{});
}

void AppState::saveEndpointQualityStats() {
    try {
        m_preferences.setData(prefkey::qualityStats,
                              encodeEndpointQualityStats(m_endpointQualityStats));
    } catch (const EncodingError&) {
        // A time that is no number cannot be stored; the old value stays.
    }
}

std::optional<QString> AppState::quickConnectCacheLocation(bool createDirectory) {
    if (AppFolders::userDataDirectory().isEmpty()) {
        return std::nullopt;
    }
    const QString folder = AppFolders::applicationSupportDirectory() + QStringLiteral("/Cache");
    if (createDirectory) {
        try {
            AtomicFile::makeDirectory(folder);
        } catch (const FileError&) {
            // The write that follows reports it.
        }
    }
    return folder + QStringLiteral("/quick-connect-cache.json");
}

std::optional<QuickConnectCacheRecord> AppState::loadQuickConnectCache() {
    const auto location = quickConnectCacheLocation(false);
    if (!location) {
        return std::nullopt;
    }
    QFile file(*location);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return QuickConnectCacheRecord::decode(file.readAll());
}

void AppState::saveQuickConnectCache(const QuickConnectCacheRecord& record) {
    const auto location = quickConnectCacheLocation(true);
    if (!location) {
        return;
    }
    QByteArray data;
    try {
        data = record.encode();
    } catch (const EncodingError&) {
        return;
    }
    try {
        AtomicFile::write(*location, data, 0600);
    } catch (const LocalizedError& error) {
        appendLog(QStringLiteral("快速连接缓存写入失败：") + error.localizedDescription());
        return;
    }
    m_quickConnectCache = record;
}

void AppState::clearQuickConnectCache() {
    m_quickConnectCache.reset();
    if (const auto location = quickConnectCacheLocation(false)) {
        QFile::remove(*location);
    }
}

// --- Speed ---------------------------------------------------------------------------------

void AppState::startNetworkSpeedMonitor() {
    m_lastTrafficSample = m_deps.sampleTraffic();
    m_lastTrafficSampleAt = m_deps.monotonicClock();
    if (!m_deps.startSpeedTimer) {
        return;
    }
    m_speedTimer = new QTimer(this);
    m_speedTimer->setInterval(1000);
    QObject::connect(m_speedTimer, &QTimer::timeout, this, &AppState::updateNetworkSpeed);
    m_speedTimer->start();
}

void AppState::updateNetworkSpeed() {
    const NetworkTrafficSample sample = m_deps.sampleTraffic();
    const qint64 now = m_deps.monotonicClock();
    if (m_lastTrafficSample) {
        const double seconds = std::max((now - m_lastTrafficSampleAt) / 1000.0, 0.5);
        // A counter that went down (an interface reset) grew by nothing.
        auto growth = [](quint64 current, quint64 previous) {
            return current >= previous ? static_cast<double>(current - previous) : 0.0;
        };
        const double down = growth(sample.receivedBytes, m_lastTrafficSample->receivedBytes);
        const double up = growth(sample.sentBytes, m_lastTrafficSample->sentBytes);
        const bool changed = assign(m_downloadSpeedBps, down / seconds) |
                             assign(m_uploadSpeedBps, up / seconds);
        if (changed) {
            emit speedChanged();
        }
    }
    m_lastTrafficSample = sample;
    m_lastTrafficSampleAt = now;
}

} // namespace orvane
