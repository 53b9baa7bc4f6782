#pragma once

#include "MenuEntry.h"

#include <functional>

namespace orvane {

class AppState;

// Carries out a chosen menu item on the state. Toggles take their new value from the state,
// not from the item's own check, which Qt has already flipped. Without a state only the shell's
// own commands (show the window, quit) do anything; a mode or node the state no longer knows
// is ignored.
class MenuCommands {
public:
    struct Shell {
        std::function<void()> showDashboard;
        std::function<void()> quit;
    };

    static void run(AppState* state, const MenuEntry& entry, const Shell& shell);
};

} // namespace orvane
