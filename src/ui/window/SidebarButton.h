#pragma once

#include "StateEnumerations.h"
#include "SymbolIcon.h"

#include <QAbstractButton>

namespace orvane {

class AppState;

// One page entry: icon and title, white rounded background with black content when its page
// is selected, white at 72 % otherwise. The whole row takes the click.
class SidebarButton : public QAbstractButton {
    Q_OBJECT
public:
    SidebarButton(AppState& state, AppPage page, QWidget* parent = nullptr);

    static QString title(AppPage page);
    static SymbolIcon::Kind icon(AppPage page);
    AppPage page() const { return m_page; }
    bool isSelectedPage() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppState& m_state;
    AppPage m_page;
};

} // namespace orvane
