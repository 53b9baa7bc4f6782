#include "AuthView.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "FitLabel.h"
#include "IconButton.h"
#include "Palette.h"
#include "PlainTextButton.h"
#include "Typography.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <QCoro/QCoroTimer>

namespace orvane {

namespace {
constexpr int kCooldownSeconds = 60;

QLineEdit* makeField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setFont(Typography::font(13, QFont::Normal));
    field->setMinimumHeight(34);
    field->setStyleSheet(
        QStringLiteral("QLineEdit { background: white; border: 1px solid %1; border-radius: 6px;"
                       " padding: 0 8px; color: %2; }"
                       "QLineEdit:focus { border-color: %3; }")
            .arg(Palette::line().name(), Palette::ink().name(), Palette::blue().name()));
    return field;
}
} // namespace

AuthView::AuthView(AppState& state, QWidget* parent, Sleep sleep)
    : QDialog(parent), m_state(state),
      m_sleep(sleep ? std::move(sleep) : Sleep([](std::chrono::milliseconds duration) {
          return QCoro::sleepFor(duration);
      })),
      m_title(new FitLabel(28, Palette::ink(), this)),
      m_identity(makeField(QStringLiteral("邮箱"), this)),
      m_password(makeField(QStringLiteral("密码"), this)), m_codeRow(new QWidget(this)),
      m_code(makeField(QStringLiteral("验证码"), m_codeRow)),
      m_sendCode(new CapsuleButton(QString(), CapsuleButton::Style::secondary, m_codeRow)),
      m_invite(makeField(QStringLiteral("邀请码（可选）"), this)),
      m_accepted(new QCheckBox(QStringLiteral("我已阅读并同意用户协议、服务协议和隐私政策"), this)),
      m_primary(new CapsuleButton(QString(), CapsuleButton::Style::primary, this)),
      m_modeSwitch(new PlainTextButton(QString(), 12, Palette::muted(), this)) {
    setWindowTitle(QStringLiteral("Orvane"));
    setFixedWidth(460);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);

    auto* subtitle = new FitLabel(13, Palette::muted(), this);
    subtitle->setText(QStringLiteral("登录后同步套餐、节点、设备和反馈工单。"));
    subtitle->setMaxLines(2);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(7);
    titles->addWidget(m_title);
    titles->addWidget(subtitle);

    auto* close = new IconButton(SymbolIcon::Kind::xmark, 28, Palette::muted(),
                                 Palette::withOpacity(Qt::black, 0.06), this);
    auto* version = new FitLabel(12, Palette::muted(), this);
    version->setText(state.appVersion());
    version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    version->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* corner = new QVBoxLayout;
    corner->setSpacing(10);
    corner->addWidget(close, 0, Qt::AlignRight);
    corner->addWidget(version, 0, Qt::AlignRight);
    auto* header = new QHBoxLayout;
    header->addLayout(titles, 1);
    header->addLayout(corner);
    header->setAlignment(corner, Qt::AlignTop);

    m_password->setEchoMode(QLineEdit::Password);
    auto* codeLayout = new QHBoxLayout(m_codeRow);
    codeLayout->setContentsMargins(0, 0, 0, 0);
    codeLayout->setSpacing(10);
    codeLayout->addWidget(m_code, 1);
    codeLayout->addWidget(m_sendCode);
    auto* fields = new QVBoxLayout;
    fields->setSpacing(10);
    fields->addWidget(m_identity);
    fields->addWidget(m_password);
    fields->addWidget(m_codeRow);
    fields->addWidget(m_invite);

    m_accepted->setChecked(true);
    m_accepted->setFont(Typography::font(12));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);
    layout->addLayout(header);
    layout->addLayout(fields);
    layout->addWidget(m_accepted);
    layout->addWidget(m_primary, 0, Qt::AlignRight);
    layout->addWidget(m_modeSwitch, 0, Qt::AlignLeft);

    connect(close, &QAbstractButton::clicked, this, [this] { m_state.setShowAuthSheet(false); });
    connect(m_modeSwitch, &QAbstractButton::clicked, this, [this] {
        m_isRegistering = !m_isRegistering;
        refresh();
    });
    connect(m_sendCode, &QAbstractButton::clicked, this, [this] {
        m_state.spawn(sendCode(this, &m_state, normalizedIdentity(m_identity->text())));
    });
    connect(m_primary, &QAbstractButton::clicked, this, &AuthView::submit);
    for (QLineEdit* field : {m_identity, m_password, m_code, m_invite}) {
        connect(field, &QLineEdit::textChanged, this, &AuthView::refresh);
    }
    connect(m_accepted, &QCheckBox::toggled, this, &AuthView::refresh);
    connect(&state, &AppState::busyChanged, this, &AuthView::refresh);
    // The state closes the sheet after a successful sign-in or registration.
    connect(&state, &AppState::showAuthSheetChanged, this, [this] {
        if (!m_state.showAuthSheet() && isVisible()) {
            accept();
        }
    });
    refresh();
    fitHeight();
}

AuthView::~AuthView() = default;

bool AuthView::isValidEmail(const QString& identity) {
    static const QRegularExpression pattern(QStringLiteral("^[^\\s@]+@[^\\s@]+\\.[^\\s@]+$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern.match(normalizedIdentity(identity)).hasMatch();
}

QString AuthView::normalizedIdentity(const QString& identity) {
    return identity.trimmed().toLower();
}

QString AuthView::codeButtonTitle() const {
    if (m_isSendingCode) {
        return QStringLiteral("发送中...");
    }
    if (m_codeCooldownRemaining < 1) {
        return QStringLiteral("发送验证码");
    }
    return QString::number(m_codeCooldownRemaining) + QStringLiteral("秒后重发");
}

void AuthView::refresh() {
    m_title->setText(m_isRegistering ? QStringLiteral("注册 Orvane")
                                     : QStringLiteral("登录 Orvane"));
    m_primary->setText(m_isRegistering ? QStringLiteral("注册并登录") : QStringLiteral("登录"));
    m_primary->updateGeometry();
    m_modeSwitch->setText(m_isRegistering ? QStringLiteral("已有账号，去登录")
                                          : QStringLiteral("没有账号，注册一个"));
    m_modeSwitch->updateGeometry();
    if (m_codeRow->isHidden() == m_isRegistering) {
        m_codeRow->setVisible(m_isRegistering);
        m_invite->setVisible(m_isRegistering);
        fitHeight();
    }
    m_sendCode->setText(codeButtonTitle());
    m_sendCode->updateGeometry();

    const bool valid = isValidEmail(m_identity->text());
    const bool busy = m_state.isBusy();
    m_sendCode->setEnabled(valid && !busy && !m_isSendingCode && m_codeCooldownRemaining <= 0);
    m_primary->setEnabled(m_accepted->isChecked() && valid && !m_password->text().isEmpty() &&
                          !busy);
}

// The sheet is as high as its fields, which change with the mode.
void AuthView::fitHeight() {
    QLayout* sheet = layout();
    if (!sheet) {
        return;
    }
    // Nested layouts keep their cached heights until told.
    for (QLayout* nested : findChildren<QLayout*>()) {
        nested->invalidate();
    }
    sheet->invalidate();
    setFixedHeight(sheet->hasHeightForWidth() ? sheet->totalHeightForWidth(width())
                                              : sheet->totalSizeHint().height());
}

void AuthView::submit() {
    const QString identity = normalizedIdentity(m_identity->text());
    const QString password = m_password->text();
    if (m_isRegistering) {
        m_state.spawn(m_state.registerAccount(identity, password, m_code->text(),
                                              std::optional<QString>(m_invite->text())));
    } else {
        m_state.spawn(m_state.login(identity, password));
    }
}

QCoro::Task<void> AuthView::sendCode(QPointer<AuthView> self, QPointer<AppState> state,
                                     QString identity) {
    self->m_isSendingCode = true;
    self->refresh();
    bool accepted = false;
    try {
        accepted = co_await state->sendVerificationCode(identity);
    } catch (...) {
        accepted = false;
    }
    if (!self) {
        co_return;
    }
    self->m_isSendingCode = false;
    if (accepted) {
        self->startCodeCooldown();
    }
    self->refresh();
}

void AuthView::startCodeCooldown() {
    const quint64 generation = ++m_cooldownGeneration;
    m_codeCooldownRemaining = kCooldownSeconds;
    refresh();
    static_cast<void>(countDown(this, generation, m_sleep));
}

QCoro::Task<void> AuthView::countDown(QPointer<AuthView> self, quint64 generation, Sleep sleep) {
    for (int value = kCooldownSeconds - 1; value >= 0; --value) {
        co_await sleep(std::chrono::seconds(1));
        if (!self || self->m_cooldownGeneration != generation) {
            co_return;
        }
        self->m_codeCooldownRemaining = value;
        self->refresh();
    }
}

void AuthView::done(int result) {
    // The countdown ends with the sheet's dismissal only: a minimised window hides the sheet
    // too, and it must count on once restored.
    ++m_cooldownGeneration;
    QDialog::done(result);
    // Escape or the window's close button: the state stops asking for the sheet.
    if (result == QDialog::Rejected && m_state.showAuthSheet()) {
        m_state.setShowAuthSheet(false);
    }
}

} // namespace orvane
