#pragma once

#include "SymbolIcon.h"

#include <QAbstractButton>

namespace orvane {

// A round button showing one of our symbols.
class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(SymbolIcon::Kind kind, int diameter, const QColor& color,
               const QColor& background, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SymbolIcon::Kind m_kind;
    QColor m_color;
    QColor m_background;
};

} // namespace orvane
