#pragma once

#include "PanelFrame.h"
#include "Plan.h"

namespace orvane {

class CapsuleButton;

// One plan card: name over price, the detail, and the purchase button. A featured plan is a
// black card with a white button, any other a white card with a black button.
class PlanRow : public PanelFrame {
    Q_OBJECT
public:
    explicit PlanRow(const Plan& plan, QWidget* parent = nullptr);

    const Plan& plan() const { return m_plan; }
    CapsuleButton* button() const { return m_button; }

signals:
    void purchaseClicked();

private:
    Plan m_plan;
    CapsuleButton* m_button;
};

} // namespace orvane
