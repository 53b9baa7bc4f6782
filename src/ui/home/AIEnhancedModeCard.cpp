#include "AIEnhancedModeCard.h"

#include "AppState.h"
#include "FitLabel.h"
#include "HelpButton.h"
#include "HelpPopover.h"
#include "Palette.h"
#include "PanelFrame.h"
#include "WideButton.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace orvane {

AIEnhancedModeCard::AIEnhancedModeCard(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_help(new HelpButton(this)),
      m_stateWord(new FitLabel(12, Palette::muted(), this)), m_ai(new WideButton(this)),
      m_telegram(new WideButton(this)) {
    m_help->setToolTip(QStringLiteral("查看 AI 增强模式说明"));
    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(QStringLiteral("增强功能"));
    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(caption, 1, Qt::AlignVCenter);
    headerRow->addWidget(m_help, 0, Qt::AlignVCenter);

    auto* title = new FitLabel(18, Palette::black(), this);
    title->setText(QStringLiteral("AI增强模式"));
    title->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    titleRow->addWidget(title, 0, Qt::AlignVCenter);
    titleRow->addWidget(m_stateWord, 1, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(5);
    texts->addLayout(headerRow);
    texts->addLayout(titleRow);

    m_telegram->setLook(QStringLiteral("Telegram强制连接"), Qt::white, Qt::black);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_ai);
    buttons->addWidget(m_telegram);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);
    layout->addLayout(texts);
    layout->addLayout(buttons);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(m_help, &QAbstractButton::clicked, this, [this] { setHelpExpanded(!m_helpExpanded); });
    connect(m_ai, &QAbstractButton::clicked, this, [this] { m_state.toggleAIEnhancedMode(); });
    connect(m_telegram, &QAbstractButton::clicked, this, [this] { m_state.openTelegramProxy(); });
    connect(&state, &AppState::preferencesChanged, this, &AIEnhancedModeCard::refresh);
    refresh();
}

const QString& AIEnhancedModeCard::helpText() {
    static const QString text = QStringLiteral(
        "AI增强模式为 Codex、Claude 等 AI 工具准备稳定代理入口，减少长连接、流式响应和 CLI "
        "工具重连。\n\nTelegram强制连接会打开本地 SOCKS 代理入口，适合系统代理未被 Telegram "
        "自动识别时使用。");
    return text;
}

QAbstractButton* AIEnhancedModeCard::helpButton() const {
    return m_help;
}

QAbstractButton* AIEnhancedModeCard::aiButton() const {
    return m_ai;
}

QAbstractButton* AIEnhancedModeCard::telegramButton() const {
    return m_telegram;
}

QString AIEnhancedModeCard::stateWord() const {
    return m_stateWord->text();
}

void AIEnhancedModeCard::setHelpExpanded(bool expanded) {
    if (expanded == m_helpExpanded) {
        return;
    }
    m_helpExpanded = expanded;
    if (expanded) {
        if (!m_popover) {
            m_popover = new HelpPopover(helpText(), this);
            connect(m_popover, &HelpPopover::closed, this, [this] { m_helpExpanded = false; });
        }
        m_popover->popUpAbove(m_help);
    } else if (m_popover) {
        m_popover->hide();
    }
}

void AIEnhancedModeCard::refresh() {
    const bool on = m_state.aiEnhancedModeEnabled();
    m_stateWord->setText(on ? QStringLiteral("已开启") : QStringLiteral("未开启"));
    if (on) {
        m_ai->setLook(QStringLiteral("已开启AI增强功能"), Qt::white, Qt::black);
    } else {
        m_ai->setLook(QStringLiteral("AI增强功能"), Palette::black(), Qt::white);
    }
}

void AIEnhancedModeCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PanelFrame::paintCard(painter, rect(), QColor(Qt::white), Palette::line());
}

} // namespace orvane
