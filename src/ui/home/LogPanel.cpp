#include "LogPanel.h"

#include "AppState.h"
#include "CapsuleButton.h"
#include "ContentScrollArea.h"
#include "FitLabel.h"
#include "LogRow.h"
#include "Palette.h"
#include "PanelHeading.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace orvane {

namespace {
// Enough for a couple of entries beside the expanded nodes. Beside the collapsed ones, which
// keep both their rows in view, the log gives way first.
constexpr int kMinimumListHeight = 110;
constexpr int kYieldingListHeight = 0;
} // namespace

LogPanel::LogPanel(AppState& state, QWidget* parent)
    : PanelFrame(true, parent), m_state(state),
      m_expand(new CapsuleButton(QString(), CapsuleButton::Style::primary, this)),
      m_rowsBox(new QWidget) {
    QHBoxLayout* header =
        PanelHeading::make(this, QStringLiteral("连接日志"), QStringLiteral("最近事件"), m_expand);

    auto* rowsLayout = new QVBoxLayout(m_rowsBox);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(8);
    rowsLayout->addStretch(1);
    m_scroll = new ContentScrollArea(m_rowsBox, kMinimumListHeight, this);
    m_scroll->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(11);
    layout->addLayout(header);
    layout->addWidget(m_scroll, 1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    connect(m_expand, &QAbstractButton::clicked, this,
            [this] { m_state.setLogsExpanded(!m_state.logsExpanded()); });
    connect(&state, &AppState::logsChanged, this, &LogPanel::refreshRows);
    connect(&state, &AppState::panelsChanged, this, &LogPanel::refreshRows);
    refreshRows();
}

// The column gives the log what the nodes leave; it asks only for its floor.
QSize LogPanel::sizeHint() const {
    return {PanelFrame::sizeHint().width(), minimumSizeHint().height()};
}

QList<LogRow*> LogPanel::rows() const {
    QList<LogRow*> visible;
    for (LogRow* row : m_rows) {
        if (!row->isHidden()) {
            visible.append(row);
        }
    }
    return visible;
}

void LogPanel::refreshRows() {
    const QString expandTitle =
        m_state.logsExpanded() ? QStringLiteral("收起") : QStringLiteral("日志");
    if (m_expand->text() != expandTitle) {
        m_expand->setText(expandTitle);
        m_expand->updateGeometry();
    }
    m_scroll->setFloor(m_state.nodesExpanded() ? kMinimumListHeight : kYieldingListHeight);
    const QList<LogEntry> entries = m_state.visibleLogs();
    auto* rowsLayout = static_cast<QVBoxLayout*>(m_rowsBox->layout());
    while (m_rows.size() < entries.size()) {
        auto* row = new LogRow(m_rowsBox);
        rowsLayout->insertWidget(static_cast<int>(m_rows.size()), row);
        m_rows.append(row);
    }
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        LogRow* row = m_rows.at(i);
        if (i < entries.size()) {
            row->setEntry(entries.at(i));
            row->show();
        } else {
            row->hide();
        }
    }
}

} // namespace orvane
