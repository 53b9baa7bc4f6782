#pragma once

#include <QDialog>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>

class QCheckBox;
class QLineEdit;

namespace orvane {

class AppState;
class CapsuleButton;
class FitLabel;
class PlainTextButton;

// The sign-in and registration sheet. It collects and lightly checks input and calls the
// state; the state closes it on success and reports every outcome. No button is a default:
// Return in a field submits nothing.
class AuthView : public QDialog {
    Q_OBJECT
public:
    using Sleep = std::function<QCoro::Task<void>(std::chrono::milliseconds)>;

    // `sleep` paces the code cooldown; a real one-second timer when empty.
    explicit AuthView(AppState& state, QWidget* parent = nullptr, Sleep sleep = {});
    ~AuthView() override;

    static bool isValidEmail(const QString& identity);
    static QString normalizedIdentity(const QString& identity);

    bool isRegistering() const { return m_isRegistering; }
    int codeCooldownRemaining() const { return m_codeCooldownRemaining; }
    QString codeButtonTitle() const;

    QLineEdit* identityField() const { return m_identity; }
    QLineEdit* passwordField() const { return m_password; }
    QLineEdit* codeField() const { return m_code; }
    QLineEdit* inviteField() const { return m_invite; }
    QCheckBox* agreementBox() const { return m_accepted; }
    CapsuleButton* sendCodeButton() const { return m_sendCode; }
    CapsuleButton* primaryButton() const { return m_primary; }
    PlainTextButton* modeSwitch() const { return m_modeSwitch; }

protected:
    void done(int result) override;

private:
    void refresh();
    void fitHeight();
    void submit();
    void startCodeCooldown();
    static QCoro::Task<void> sendCode(QPointer<AuthView> self, QPointer<AppState> state,
                                      QString identity);
    static QCoro::Task<void> countDown(QPointer<AuthView> self, quint64 generation, Sleep sleep);

    AppState& m_state;
    Sleep m_sleep;
    bool m_isRegistering = false;
    bool m_isSendingCode = false;
    int m_codeCooldownRemaining = 0;
    quint64 m_cooldownGeneration = 0;

    FitLabel* m_title;
    QLineEdit* m_identity;
    QLineEdit* m_password;
    QWidget* m_codeRow;
    QLineEdit* m_code;
    CapsuleButton* m_sendCode;
    QLineEdit* m_invite;
    QCheckBox* m_accepted;
    CapsuleButton* m_primary;
    PlainTextButton* m_modeSwitch;
};

} // namespace orvane
