#include "SettingsView.h"

#include "AppState.h"
#include "BoundDevicesPanel.h"
#include "CapsuleButton.h"
#include "ContentScrollArea.h"
#include "CurrentDevicePanel.h"
#include "FeedbackRow.h"
#include "PageHeader.h"
#include "PanelFrame.h"
#include "SettingsRow.h"
#include "SwitchButton.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
CapsuleButton* makeButton(const QString& title) {
    return new CapsuleButton(title, CapsuleButton::Style::secondary);
}

QString aiProxyText(int port) {
    return QStringLiteral("注入 HTTP_PROXY / ALL_PROXY 到 127.0.0.1:") + QString::number(port);
}
} // namespace

SettingsView::SettingsView(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_launch(new SwitchButton), m_menuBar(new SwitchButton) {
    auto* content = new QWidget;
    m_header = new PageHeader(QStringLiteral("设置"), QStringLiteral("设备与偏好"),
                              state.versionPolicyText(), content);
    m_current = new CurrentDevicePanel(state, content);
    m_bound = new BoundDevicesPanel(state, content);
    auto* devices = new QHBoxLayout;
    devices->setSpacing(14);
    // Both panels as high as the taller one.
    devices->addWidget(m_current, 1);
    devices->addWidget(m_bound, 1);

    auto* check = makeButton(QStringLiteral("检查"));
    auto* support = makeButton(QStringLiteral("打开"));
    auto* telegram = makeButton(QStringLiteral("打开"));
    auto* codex = makeButton(QStringLiteral("启动"));
    auto* claude = makeButton(QStringLiteral("启动"));
    auto* panel = new PanelFrame(true, content);
    m_version = new SettingsRow(QStringLiteral("客户端版本"), QString(), check, panel);
    m_telegram = new SettingsRow(QStringLiteral("Telegram 连接"), QString(), telegram, panel);
    m_codex = new SettingsRow(QStringLiteral("Codex AI 启动器"), QString(), codex, panel);
    m_claude = new SettingsRow(QStringLiteral("Claude AI 启动器"), QString(), claude, panel);
    m_feedback = new FeedbackRow(state, panel);
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(14, 14, 14, 14);
    rows->setSpacing(8);
    rows->addWidget(m_version);
    rows->addWidget(new SettingsRow(QStringLiteral("开机启动"),
                                    QStringLiteral("登录 macOS 后自动启动 Orvane"), m_launch,
                                    panel));
    rows->addWidget(new SettingsRow(QStringLiteral("菜单栏模式"),
                                    QStringLiteral("保留菜单栏入口和状态提示"), m_menuBar, panel));
    rows->addWidget(new SettingsRow(QStringLiteral("客服与协议"),
                                    QStringLiteral("用户协议、服务协议、隐私政策"), support,
                                    panel));
    rows->addWidget(m_telegram);
    rows->addWidget(m_codex);
    rows->addWidget(m_claude);
    rows->addWidget(m_feedback);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(m_header);
    layout->addLayout(devices);
    layout->addWidget(panel);
    layout->addStretch(1);

    m_scroll = new ContentScrollArea(content, 0, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll);

    connect(check, &QAbstractButton::clicked, this,
            [this] { m_state.spawn(m_state.refreshPublicData()); });
    connect(support, &QAbstractButton::clicked, this, [this] { m_state.openClientHome(); });
    connect(telegram, &QAbstractButton::clicked, this, [this] { m_state.openTelegramProxy(); });
    connect(codex, &QAbstractButton::clicked, this, [this] {
        m_state.openAIToolLauncher(QStringLiteral("codex"), QStringLiteral("Codex"));
    });
    connect(claude, &QAbstractButton::clicked, this, [this] {
        m_state.openAIToolLauncher(QStringLiteral("claude"), QStringLiteral("Claude"));
    });
    // A switch flips itself first; it then shows what the state kept (a refused launch
    // setting stays off).
    connect(m_launch, &QAbstractButton::clicked, this, [this](bool on) {
        m_state.setLaunchAtLogin(on);
        refreshPreferences();
    });
    connect(m_menuBar, &QAbstractButton::clicked, this, [this](bool on) {
        m_state.setMenuBarEnabled(on);
        refreshPreferences();
    });
    connect(&state, &AppState::versionChanged, this, &SettingsView::refreshVersion);
    connect(&state, &AppState::preferencesChanged, this, &SettingsView::refreshPreferences);
    connect(&state, &AppState::connectionDetailsChanged, this, &SettingsView::refreshPorts);
    refreshVersion();
    refreshPreferences();
    refreshPorts();
}

void SettingsView::refreshVersion() {
    const QString dot = QStringLiteral(" · ");
    m_version->setValue(QStringLiteral("当前 ") + m_state.appVersion() +
                        QStringLiteral(" · 最新 ") + m_state.latestVersion() + dot +
                        m_state.versionPolicyText());
    m_header->setPillText(m_state.versionPolicyText());
}

void SettingsView::refreshPreferences() {
    m_launch->setChecked(m_state.launchAtLogin());
    m_menuBar->setChecked(m_state.menuBarEnabled());
}

void SettingsView::refreshPorts() {
    m_telegram->setValue(QStringLiteral("SOCKS 127.0.0.1:") +
                         QString::number(m_state.localProxyPort()));
    m_codex->setValue(aiProxyText(m_state.localAIProxyPort()));
    m_claude->setValue(aiProxyText(m_state.localAIProxyPort()));
}

} // namespace orvane
