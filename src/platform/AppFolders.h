#pragma once

#include <QString>

namespace orvane {

// The user's folders the application keeps its files in. Read from the platform each time,
// so tests can point them at temporary folders.
class AppFolders {
public:
    // The user's data folder (the platform's application-support folder); not created.
    static QString userDataDirectory();
    // "Orvane" inside the user's data folder; not created.
    static QString applicationSupportDirectory();
    // The user's configuration folder, where the preferences file lives; not created.
    static QString userConfigDirectory();
};

} // namespace orvane
