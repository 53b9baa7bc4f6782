#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

namespace orvane {

class AppState;
class FitLabel;
class HelpPopover;

class WideButton;

// The enhanced-features card: AI enhanced mode on or off, the Telegram forced connection,
// and a help popover explaining both.
class AIEnhancedModeCard : public QWidget {
    Q_OBJECT
public:
    explicit AIEnhancedModeCard(AppState& state, QWidget* parent = nullptr);

    static const QString& helpText();

    bool helpExpanded() const { return m_helpExpanded; }
    void setHelpExpanded(bool expanded);
    QAbstractButton* helpButton() const;
    QAbstractButton* aiButton() const;
    QAbstractButton* telegramButton() const;
    QString stateWord() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    AppState& m_state;
    bool m_helpExpanded = false;
    QAbstractButton* m_help;
    FitLabel* m_stateWord;
    WideButton* m_ai;
    WideButton* m_telegram;
    QPointer<HelpPopover> m_popover;
};

} // namespace orvane
