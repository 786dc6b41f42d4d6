#pragma once

#include "TolvexCore/Files/FileOperations.h"

#include <QString>

namespace tolvex::ReadableNameLookup {

// A path as a lossy decoding gave it (a file dialog's, or a recorded source
// path: readableLocalPath), turned back into the exact path of the one item
// it can stand for. Each component holding U+FFFD is looked up among the
// names of its folder (listNames) by how they read; a path without U+FFFD is
// its own answer, and nothing is listed for it. ENOENT (std::system_error)
// when no name reads so, AmbiguousNameError when several do: then none of
// them may be taken for it.
QString exactPath(const FileOperations& files, const QString& readable);

} // namespace tolvex::ReadableNameLookup
