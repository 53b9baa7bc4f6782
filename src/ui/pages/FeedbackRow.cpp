#include "FeedbackRow.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "ClickableCard.h"
#include "FeedbackForm.h"
#include "FitLabel.h"
#include "Palette.h"
#include "PanelFrame.h"
#include "TicketList.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

FeedbackRow::FeedbackRow(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_header(new ClickableCard(this)),
      m_toggle(new CapsuleButton(QString(), CapsuleButton::Style::secondary, m_header)) {
    auto* caption = new FitLabel(12, Palette::muted(), m_header);
    caption->setText(QStringLiteral("日志反馈"));
    auto* title = new FitLabel(16, Palette::ink(), m_header);
    title->setText(QStringLiteral("发送工单并附带最近连接日志"));
    title->setMaxLines(2);
    title->setMinimumScale(0.82);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(caption);
    texts->addWidget(title);
    auto* headerLayout = new QHBoxLayout(m_header);
    headerLayout->setContentsMargins(11, 11, 11, 11);
    headerLayout->setSpacing(12);
    headerLayout->addLayout(texts, 1);
    headerLayout->addWidget(m_toggle, 0, Qt::AlignVCenter);
    m_header->setColors(Palette::soft2(), Palette::lineSoft());
    m_header->setMinimumHeight(58);
    m_header->setCursor(Qt::PointingHandCursor);
    m_header->letClicksThrough();
    // The pill is part of the header's face, not a button of its own.
    m_toggle->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_toggle->setFocusPolicy(Qt::NoFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_header);

    connect(m_header, &QAbstractButton::clicked, this,
            [this] { m_state.setFeedbackExpanded(!m_state.feedbackExpanded()); });
    connect(&state, &AppState::panelsChanged, this, &FeedbackRow::refresh);
    refresh();
}

void FeedbackRow::refresh() {
    const bool expanded = m_state.feedbackExpanded();
    m_toggle->setText(expanded ? QStringLiteral("收起") : QStringLiteral("展开"));
    if (expanded == !m_body.isNull()) {
        return;
    }
    if (!expanded) {
        // Collapsing discards what was typed; the next expansion starts a new form.
        m_body->hide();
        layout()->removeWidget(m_body);
        m_body->deleteLater();
        m_body = nullptr;
        return;
    }
    auto* body = new PanelFrame(false, this);
    body->setColors(Qt::white, Palette::lineSoft());
    m_form = new FeedbackForm(m_state, body);
    m_tickets = new TicketList(m_state, body);
    auto* row = new QHBoxLayout(body);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(14);
    row->addWidget(m_form, 1);
    row->addWidget(m_tickets, 1);
    row->setAlignment(m_form, Qt::AlignTop);
    row->setAlignment(m_tickets, Qt::AlignTop);
    m_body = body;
    layout()->addWidget(body);
}

} // namespace orvane
