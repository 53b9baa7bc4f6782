#include "AlertText.h"

#include "Palette.h"
#include "Typography.h"

#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace orvane {

AlertText::AlertText(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::FixedPixelWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFont(Typography::font(13, QFont::Normal));
    document()->setDocumentMargin(0);
    setStyleSheet(QStringLiteral("QTextEdit { background: transparent; color: %1; }")
                      .arg(Palette::ink().name()));
    // Focus on a click, as the box's own selectable label took it, so the copy keys reach the
    // selection. Read-only text leaves Return and Escape to the box's button.
    setFocusPolicy(Qt::ClickFocus);
}

void AlertText::setMessage(const QString& text) {
    setPlainText(text);
    QTextDocument* doc = document();
    doc->setDefaultFont(font());
    doc->setTextWidth(-1);
    const int natural = static_cast<int>(std::ceil(doc->idealWidth()));
    const int width = std::clamp(natural, kMinimumWidth, kMaximumWidth);
    setLineWrapColumnOrWidth(width);
    doc->setTextWidth(width);
    setFixedSize(width, static_cast<int>(std::ceil(doc->size().height())));
}

} // namespace orvane
