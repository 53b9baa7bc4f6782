#include "InviteView.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "ContentScrollArea.h"
#include "FitLabel.h"
#include "MetricCard.h"
#include "PageHeader.h"
#include "Palette.h"
#include "PanelFrame.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
// A numbered rule: the number in a black square, the text wrapping as far as it needs.
QWidget* makeRuleRow(const QString& number, const QString& text, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* square = new PanelFrame(false, row);
    square->setColors(Palette::black(), Palette::black());
    square->setFixedSize(34, 34);
    auto* digit = new FitLabel(12, Qt::white, square);
    digit->setText(number);
    digit->setAlignment(Qt::AlignCenter);
    auto* squareLayout = new QVBoxLayout(square);
    squareLayout->setContentsMargins(0, 0, 0, 0);
    squareLayout->addWidget(digit);
    auto* body = new FitLabel(14, Palette::muted(), row);
    body->setText(text);
    body->setWeight(QFont::Normal);
    body->setMaxLines(0);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(square, 0, Qt::AlignTop);
    layout->addWidget(body, 1, Qt::AlignTop);
    return row;
}
} // namespace

InviteView::InviteView(AppState& state, QWidget* parent) : QWidget(parent), m_state(state) {
    auto* content = new QWidget;
    auto* header =
        new PageHeader(QStringLiteral("邀请奖励"), QStringLiteral("把稳定连接分享给朋友"),
                       QStringLiteral("奖励自动到账"), content);

    auto* codeCard = new PanelFrame(false, content);
    codeCard->setColors(Palette::black(), Palette::black());
    auto* caption = new FitLabel(12, Palette::withOpacity(Qt::white, 0.72), codeCard);
    caption->setText(QStringLiteral("我的邀请码"));
    m_code = new FitLabel(42, Qt::white, codeCard);
    m_code->setMinimumScale(0.62);
    auto* codeTexts = new QVBoxLayout;
    codeTexts->setSpacing(8);
    codeTexts->addWidget(caption);
    codeTexts->addWidget(m_code);
    m_copy =
        new CapsuleButton(QStringLiteral("复制链接"), CapsuleButton::Style::secondary, codeCard);
    m_refresh =
        new CapsuleButton(QStringLiteral("刷新"), CapsuleButton::Style::secondary, codeCard);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_copy);
    buttons->addWidget(m_refresh);
    auto* codeLayout = new QHBoxLayout(codeCard);
    codeLayout->setContentsMargins(24, 24, 24, 24);
    codeLayout->setSpacing(12);
    codeLayout->addLayout(codeTexts, 1);
    codeLayout->addLayout(buttons);
    codeLayout->setAlignment(buttons, Qt::AlignBottom);

    m_invites = new MetricCard(QStringLiteral("已邀请"), QString(), content);
    m_rewards = new MetricCard(QStringLiteral("已奖励"), QString(), content);
    m_pending = new MetricCard(QStringLiteral("待确认"), QString(), content);
    auto* counters = new QGridLayout;
    counters->setHorizontalSpacing(10);
    counters->setVerticalSpacing(10);
    int column = 0;
    for (MetricCard* card :
         {m_invites, m_rewards, m_pending,
          new MetricCard(QStringLiteral("试用奖励"), QStringLiteral("1GB"), content)}) {
        card->setMinimumWidth(10);
        counters->addWidget(card, 0, column);
        counters->setColumnStretch(column++, 1);
    }

    auto* rules = new PanelFrame(true, content);
    auto* rulesCaption = new FitLabel(12, Palette::muted(), rules);
    rulesCaption->setText(QStringLiteral("奖励规则"));
    auto* rulesLayout = new QVBoxLayout(rules);
    rulesLayout->setContentsMargins(18, 18, 18, 18);
    rulesLayout->setSpacing(14);
    rulesLayout->addWidget(rulesCaption);
    rulesLayout->addWidget(makeRuleRow(
        QStringLiteral("1"), QStringLiteral("朋友注册后，你和朋友分别获得 1GB 流量。"), rules));
    rulesLayout->addWidget(makeRuleRow(
        QStringLiteral("2"),
        QStringLiteral("朋友开通月费、季度、年费套餐，分别奖励你 7、10、20 天套餐使用时长。"),
        rules));
    rulesLayout->addWidget(makeRuleRow(
        QStringLiteral("3"), QStringLiteral("邀请奖励自动到账，记录可在通知中心追踪。"), rules));

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(header);
    layout->addWidget(codeCard);
    layout->addLayout(counters);
    layout->addWidget(rules);
    layout->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(new ContentScrollArea(content, 0, this));

    connect(m_copy, &QAbstractButton::clicked, this, [this] { m_state.copyInviteLink(); });
    connect(m_refresh, &QAbstractButton::clicked, this,
            [this] { m_state.spawn(m_state.refreshPrivateData()); });
    connect(&state, &AppState::accountChanged, this, &InviteView::refresh);
    refresh();
}

QString InviteView::counterValues() const {
    return m_invites->value() + QLatin1Char('|') + m_rewards->value() + QLatin1Char('|') +
           m_pending->value();
}

void InviteView::refresh() {
    m_code->setText(m_state.inviteCode());
    m_invites->setValue(m_state.invitesTotalText());
    m_rewards->setValue(m_state.rewardDaysText());
    m_pending->setValue(m_state.pendingInvitesText());
}

} // namespace orvane
