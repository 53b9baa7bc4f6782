#pragma once

#include "Pill.h"
#include "StateEnumerations.h"

namespace orvane {

// A node's status word; only "checking" is orange, online and offline are both green.
class NodeStatusPill : public Pill {
    Q_OBJECT
public:
    explicit NodeStatusPill(NodeStatus status, QWidget* parent = nullptr);

    void setStatus(NodeStatus status);
};

} // namespace orvane
