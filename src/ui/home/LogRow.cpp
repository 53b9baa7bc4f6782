#include "LogRow.h"

#include "FitLabel.h"
#include "Palette.h"
#include "PanelFrame.h"

#include <QPainter>
#include <QVBoxLayout>

namespace orvane {

LogRow::LogRow(QWidget* parent)
    : QWidget(parent), m_time(new FitLabel(12, Palette::muted(), this)),
      m_message(new FitLabel(13, Palette::ink(), this)) {
    m_message->setMaxLines(0);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(4);
    layout->addWidget(m_time);
    layout->addWidget(m_message);
}

void LogRow::setEntry(const LogEntry& entry) {
    m_entry = entry;
    m_time->setText(entry.time);
    m_message->setText(entry.message);
}

void LogRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PanelFrame::paintCard(painter, rect(), Palette::soft2(), Palette::lineSoft());
}

} // namespace orvane
