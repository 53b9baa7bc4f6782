#pragma once

#include <QWidget>

namespace orvane {

class AppState;
class BoundDevicesPanel;
class CapsuleButton;
class ContentScrollArea;
class CurrentDevicePanel;
class FeedbackRow;
class PageHeader;
class SettingsRow;
class SwitchButton;

// The settings page: the device panels, version, launch and menu-bar switches, support
// link, Telegram and AI-tool launchers, and feedback. It scrolls when it does not fit.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(AppState& state, QWidget* parent = nullptr);

    ContentScrollArea* scrollArea() const { return m_scroll; }
    SettingsRow* versionRow() const { return m_version; }
    SwitchButton* launchSwitch() const { return m_launch; }
    SwitchButton* menuBarSwitch() const { return m_menuBar; }
    CurrentDevicePanel* currentDevicePanel() const { return m_current; }
    BoundDevicesPanel* boundDevicesPanel() const { return m_bound; }
    FeedbackRow* feedbackRow() const { return m_feedback; }

private:
    void refreshVersion();
    void refreshPreferences();
    void refreshPorts();

    AppState& m_state;
    ContentScrollArea* m_scroll;
    PageHeader* m_header;
    CurrentDevicePanel* m_current;
    BoundDevicesPanel* m_bound;
    SettingsRow* m_version;
    SwitchButton* m_launch;
    SwitchButton* m_menuBar;
    SettingsRow* m_telegram;
    SettingsRow* m_codex;
    SettingsRow* m_claude;
    FeedbackRow* m_feedback;
};

} // namespace orvane
