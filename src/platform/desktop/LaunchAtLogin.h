#pragma once

#include <QString>

namespace orvane {

// Launch at login through an XDG autostart entry in the user's configuration folder.
class LaunchAtLogin {
public:
    // Writes the entry that starts `executablePath`, or removes it; removing a missing entry
    // is fine. Throws LaunchAtLoginError.
    static void setEnabled(bool enabled, const QString& executablePath);
    static bool isEnabled();
    // $XDG_CONFIG_HOME/autostart/orvane.desktop
    static QString entryPath();

    // `path` as one argument of a desktop entry's Exec key, already escaped for the file.
    static QString execArgument(const QString& path);
};

} // namespace orvane
