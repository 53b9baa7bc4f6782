#include "FeedbackForm.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "FitLabel.h"
#include "Palette.h"
#include "Typography.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace orvane {

namespace {
QString fieldStyle(const char* type) {
    return QStringLiteral("%1 { background: white; border: 1px solid %2; border-radius: 6px;"
                          " padding: 0 8px; color: %3; }"
                          "%1:focus { border-color: %4; }")
        .arg(QLatin1String(type), Palette::line().name(), Palette::ink().name(),
             Palette::blue().name());
}

QLineEdit* makeField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setFont(Typography::font(13, QFont::Normal));
    field->setMinimumHeight(34);
    field->setStyleSheet(fieldStyle("QLineEdit"));
    return field;
}
} // namespace

FeedbackForm::FeedbackForm(AppState& state, QWidget* parent)
    : PanelFrame(true, parent), m_state(state),
      m_email(makeField(QStringLiteral("联系邮箱"), this)),
      m_title(makeField(QStringLiteral("标题"), this)), m_body(new QPlainTextEdit(this)),
      m_submit(new CapsuleButton(QStringLiteral("提交反馈"), CapsuleButton::Style::primary, this)) {
    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(QStringLiteral("反馈内容"));
    auto* heading = new FitLabel(17, Palette::ink(), this);
    heading->setText(QStringLiteral("客户端问题"));
    m_title->setText(QStringLiteral("macOS 连接失败"));
    m_body->setPlainText(QStringLiteral("连接时卡在正在启动隧道。"));
    m_body->setFont(Typography::font(13, QFont::Normal));
    m_body->setMinimumHeight(100);
    m_body->setMaximumHeight(120);
    m_body->setTabChangesFocus(true);
    m_body->setStyleSheet(
        fieldStyle("QPlainTextEdit").replace(QStringLiteral("6px"), QStringLiteral("8px")));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addWidget(caption);
    layout->addWidget(heading);
    layout->addWidget(m_email);
    layout->addWidget(m_title);
    layout->addWidget(m_body);
    layout->addWidget(m_submit, 0, Qt::AlignLeft);

    connect(m_submit, &QAbstractButton::clicked, this, [this] {
        m_state.spawn(
            m_state.submitFeedback(m_title->text(), m_email->text(), m_body->toPlainText()));
    });
    connect(&state, &AppState::accountChanged, this, &FeedbackForm::accountChanged);
    fillContact();
}

QString FeedbackForm::contactFor(const AppState& state) {
    const auto& user = state.currentUser();
    if (!user) {
        return QStringLiteral("未登录");
    }
    if (user->email && !user->email->isEmpty()) {
        return *user->email;
    }
    return user->identity;
}

void FeedbackForm::showEvent(QShowEvent* event) {
    PanelFrame::showEvent(event);
    fillContact();
}

void FeedbackForm::fillContact() {
    if (m_email->text().isEmpty()) {
        m_filledContact = contactFor(m_state);
        m_email->setText(m_filledContact);
    }
}

// A contact the form filled in follows the account, so a ticket sent after signing in does
// not carry "未登录"; what the user typed stays.
void FeedbackForm::accountChanged() {
    if (!m_filledContact.isEmpty() && m_email->text() == m_filledContact) {
        m_filledContact = contactFor(m_state);
        m_email->setText(m_filledContact);
    }
}

} // namespace orvane
