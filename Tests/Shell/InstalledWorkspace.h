#pragma once

#include "Shell/InstalledProgram.h"

#include <QString>
#include <QTemporaryDir>

#include <string>

namespace tolvex::testing::installed {

// What an x11 test of the installed program starts from: a home and a
// prefix of its own, the program installed into the prefix and, unless the
// test lays out its library itself, the starter workspace below the home as
// the program's first start leaves it.
struct InstalledWorkspace {
    enum Library { starter, starterWithClipboardIntake, noLibrary };

    explicit InstalledWorkspace(Library library = starter)
    {
        if (!home.isValid() || !prefix.isValid()) {
            fault = "no temporary folder";
            return;
        }
        installed = install(prefix.path());
        if (installed.isEmpty()) {
            fault = "the install failed";
            return;
        }
        if (library == noLibrary)
            return;
        root = placeStarterWorkspace(prefix.path(), home.path());
        if (root.isEmpty())
            fault = "the starter workspace was not put in place";
        else if (library == starterWithClipboardIntake && !enableClipboardIntake(root))
            fault = "clipboard intake was not turned on";
    }

    QTemporaryDir home;
    QTemporaryDir prefix;
    // The installed program.
    QString installed;
    // The data root, empty with `noLibrary`.
    QString root;
    // What could not be put in place; empty when all of it is.
    std::string fault;
};

} // namespace tolvex::testing::installed
