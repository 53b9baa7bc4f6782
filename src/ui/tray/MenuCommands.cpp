#include "MenuCommands.h"

#include "AppState.h"

namespace orvane {

void MenuCommands::run(AppState* state, const MenuEntry& entry, const Shell& shell) {
    switch (entry.command) {
    case MenuCommand::showDashboard:
        if (shell.showDashboard) {
            shell.showDashboard();
        }
        return;
    case MenuCommand::quit:
        if (shell.quit) {
            shell.quit();
        }
        return;
    default:
        break;
    }
    if (!state) {
        return;
    }
    switch (entry.command) {
    case MenuCommand::none:
    case MenuCommand::showDashboard:
    case MenuCommand::quit:
        break;
    case MenuCommand::toggleConnection:
        state->spawn(state->toggleConnection());
        break;
    case MenuCommand::toggleMenuBarSpeed:
        state->setShowMenuBarSpeed(!state->showMenuBarSpeed());
        break;
    case MenuCommand::setOutboundMode:
        if (const auto mode = outboundModeFromRawValue(entry.payload)) {
            state->setOutboundMode(*mode);
        }
        break;
    case MenuCommand::selectEndpoint: {
        const QList<Endpoint> endpoints = state->endpoints();
        for (const Endpoint& endpoint : endpoints) {
            if (endpoint.id == entry.payload) {
                state->selectEndpointFromMenu(endpoint);
                break;
            }
        }
        break;
    }
    case MenuCommand::toggleSystemProxy:
        state->spawn(state->setSystemProxyEnabled(!state->systemProxyEnabled()));
        break;
    case MenuCommand::toggleAIEnhanced:
        state->toggleAIEnhancedMode();
        break;
    case MenuCommand::toggleLaunchAtLogin:
        state->setLaunchAtLogin(!state->launchAtLogin());
        break;
    case MenuCommand::reloadConfiguration:
        state->spawn(state->reloadActiveConfiguration(entry.payload));
        break;
    }
}

} // namespace orvane
