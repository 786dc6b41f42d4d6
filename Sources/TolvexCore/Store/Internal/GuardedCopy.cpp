#include "TolvexCore/Store/Internal/GuardedCopy.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <system_error>

namespace tolvex {

void copyToCheckedDestination(const StoreContext& context, const QUrl& source, const DestinationPlacement& placement)
{
    QUrl anchor;
    QString below;
    FileOperations::MissingFolders missing = FileOperations::MissingFolders::fail;
    if (placement.isInsideRoot()) {
        const QString prefix = DataRoot::exportsFolder() + u'/';
        if (!placement.relativePath->startsWith(prefix))
            throw StoreError::invalidPath();
        anchor = context.url(DataRoot::exportsFolder());
        below = placement.relativePath->mid(prefix.size());
        missing = FileOperations::MissingFolders::create;
    } else {
        if (!placement.path.startsWith(u'/'))
            throw StoreError::invalidPath();
        anchor = QUrl::fromLocalFile(QStringLiteral("/"));
        below = placement.path.mid(1);
    }

    const OpenFile file = context.files->open(source);
    // No further than the size it has now: a copy out never grows with its source.
    const std::int64_t size = context.files->inspect(file).byteCount;
    try {
        context.files->sync(context.files->copy(file, anchor, below, missing, size));
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::too_many_symbolic_link_levels || error.code() == std::errc::not_a_directory)
            throw StoreError::invalidPath();
        throw;
    }
}

} // namespace tolvex
