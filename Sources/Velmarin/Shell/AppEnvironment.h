#pragma once

#include <QStringList>
#include <QUrl>

namespace tolvex {

// What the command line decides for the whole run: whether this is only a
// resource check, and which data root the workspace lives in.
struct AppEnvironment {
    bool checkResources = false;
    // A local file URL of a folder, without a trailing slash; it need not exist.
    QUrl dataRoot;

    // Parses the arguments after the program path and fills in the default
    // data root when "--data-root" is absent. Throws
    // StartupOptions::ArgumentError; never touches the disk.
    static AppEnvironment parse(const QStringList& arguments);

    // The folder "Tolvex" in the user's data folder ($XDG_DATA_HOME, by default
    // ~/.local/share). Throws StoreError::invalidPath when the system names no
    // absolute data folder.
    static QUrl defaultDataRoot();

    friend bool operator==(const AppEnvironment&, const AppEnvironment&) = default;
};

} // namespace tolvex
