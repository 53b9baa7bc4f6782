#include "TicketList.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "FitLabel.h"
#include "Palette.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
// A ticket's status over its title; "查看" opens nothing, there is no ticket detail.
QWidget* makeTicketRow(const Ticket& ticket, QWidget* parent) {
    auto* row = new PanelFrame(false, parent);
    row->setColors(Palette::soft2(), Palette::lineSoft());
    auto* status = new FitLabel(12, Palette::muted(), row);
    status->setText(ticket.status);
    auto* title = new FitLabel(14, Palette::ink(), row);
    title->setObjectName(QStringLiteral("ticketTitle"));
    title->setText(ticket.title);
    title->setMaxLines(2);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(status);
    texts->addWidget(title);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(10);
    layout->addLayout(texts, 1);
    layout->addWidget(
        new CapsuleButton(QStringLiteral("查看"), CapsuleButton::Style::secondary, row), 0,
        Qt::AlignVCenter);
    return row;
}
} // namespace

TicketList::TicketList(AppState& state, QWidget* parent)
    : PanelFrame(true, parent), m_state(state), m_empty(new PanelFrame(false, this)),
      m_rows(new QWidget(this)) {
    auto* caption = new FitLabel(12, Palette::muted(), this);
    caption->setText(QStringLiteral("最近工单"));
    auto* heading = new FitLabel(17, Palette::ink(), this);
    heading->setText(QStringLiteral("处理记录"));

    static_cast<PanelFrame*>(m_empty)->setColors(Palette::soft2(), Qt::transparent);
    m_empty->setMinimumHeight(82);
    auto* emptyText = new FitLabel(14, Palette::muted(), m_empty);
    emptyText->setText(QStringLiteral("暂无工单记录"));
    emptyText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* emptyLayout = new QVBoxLayout(m_empty);
    emptyLayout->setContentsMargins(11, 11, 11, 11);
    emptyLayout->addWidget(emptyText);
    emptyLayout->addStretch(1);

    auto* rowsLayout = new QVBoxLayout(m_rows);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(12);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addWidget(caption);
    layout->addWidget(heading);
    layout->addWidget(m_empty);
    layout->addWidget(m_rows);
    layout->addStretch(1);
    setMinimumHeight(kMinimumHeight);

    connect(&state, &AppState::ticketsChanged, this, &TicketList::refresh);
    refresh();
}

QStringList TicketList::shownTitles() const {
    QStringList titles;
    for (QWidget* row : m_rows->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!row->isHidden()) {
            titles << row->findChild<FitLabel*>(QStringLiteral("ticketTitle"))->text();
        }
    }
    return titles;
}

void TicketList::refresh() {
    for (QWidget* row : m_rows->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        row->hide();
        m_rows->layout()->removeWidget(row);
        row->deleteLater();
    }
    const QList<Ticket> tickets = m_state.tickets();
    for (qsizetype i = 0; i < std::min<qsizetype>(tickets.size(), kShownTickets); ++i) {
        m_rows->layout()->addWidget(makeTicketRow(tickets.at(i), m_rows));
    }
    m_empty->setVisible(tickets.isEmpty());
    m_rows->setVisible(!tickets.isEmpty());
}

} // namespace orvane
