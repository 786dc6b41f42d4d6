#pragma once

#include <QString>

namespace tolvex::ChooserFolders {

// Where the program's file choosers open, never in the process's working
// folder (wherever the program happened to be started): the user's
// standard folder when it exists, else the home folder.
QString pictures();
QString documents();

} // namespace tolvex::ChooserFolders
