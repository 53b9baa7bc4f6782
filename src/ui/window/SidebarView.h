#pragma once

#include <QList>
#include <QWidget>

namespace orvane {

class AppState;
class ClickableCard;
class FitLabel;
class PlainTextButton;
class SidebarButton;

// The dark left column: logo and version, the page entries, the account card and the
// node-service status.
class SidebarView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 232;

    explicit SidebarView(AppState& state, QWidget* parent = nullptr);

    bool signedIn() const;
    ClickableCard* accountCard() const { return m_card; }
    PlainTextButton* accountButton() const { return m_accountButton; }
    QString identityText() const;
    QString planLineText() const;
    QString serviceStatusText() const;
    FitLabel* identityLabel() const { return m_identity; }
    const QList<SidebarButton*>& pageButtons() const { return m_pages; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshAccount();
    void fitPlanLine();
    void refreshService();

    AppState& m_state;
    QList<SidebarButton*> m_pages;
    ClickableCard* m_card;
    FitLabel* m_identity;
    FitLabel* m_planLine;
    PlainTextButton* m_accountButton;
    QWidget* m_dot;
    FitLabel* m_service;
};

} // namespace orvane
