#pragma once

#include <QWidget>

namespace orvane {

class AppState;
class CapsuleButton;
class FitLabel;
class MetricCard;

// The invite page: the invitation code with link copy and refresh, the programme's four
// counters and the fixed reward rules.
class InviteView : public QWidget {
    Q_OBJECT
public:
    explicit InviteView(AppState& state, QWidget* parent = nullptr);

    FitLabel* codeLabel() const { return m_code; }
    CapsuleButton* copyButton() const { return m_copy; }
    CapsuleButton* refreshButton() const { return m_refresh; }
    QString counterValues() const;

private:
    void refresh();

    AppState& m_state;
    FitLabel* m_code;
    CapsuleButton* m_copy;
    CapsuleButton* m_refresh;
    MetricCard* m_invites;
    MetricCard* m_rewards;
    MetricCard* m_pending;
};

} // namespace orvane
