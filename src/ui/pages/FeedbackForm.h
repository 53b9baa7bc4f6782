#pragma once

#include "PanelFrame.h"

class QLineEdit;
class QPlainTextEdit;

namespace orvane {

class AppState;
class CapsuleButton;

// A new support ticket: contact, title and content, sent with the recent log. A fresh form
// starts with the default title and content; the contact is filled in from the account.
class FeedbackForm : public PanelFrame {
    Q_OBJECT
public:
    explicit FeedbackForm(AppState& state, QWidget* parent = nullptr);

    // The account's e-mail, else its identity, else "未登录".
    static QString contactFor(const AppState& state);

    QLineEdit* emailField() const { return m_email; }
    QLineEdit* titleField() const { return m_title; }
    QPlainTextEdit* bodyField() const { return m_body; }
    CapsuleButton* submitButton() const { return m_submit; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillContact();
    void accountChanged();

    AppState& m_state;
    QLineEdit* m_email;
    QLineEdit* m_title;
    QPlainTextEdit* m_body;
    CapsuleButton* m_submit;
    // What the form itself last put in the contact field; anything else the user typed.
    QString m_filledContact;
};

} // namespace orvane
