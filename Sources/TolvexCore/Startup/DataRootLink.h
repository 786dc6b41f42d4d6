#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace tolvex {

// A data root that is itself a symbolic link. The program never follows
// one (a library moved to another disk and linked back is refused, not
// opened through the link); what it can do is tell the user where the link
// leads, so that the folder can be put back in its place.
class DataRootLink {
public:
    DataRootLink() = delete;

    // Where the data root leads when the item at its path is a link (links
    // in the folders above it are no matter): the folder at the end of the
    // link, or the link's own target when that names nothing. None when the
    // root is no link, or names nothing at all.
    static std::optional<QString> target(const QUrl& dataRoot);
};

} // namespace tolvex
