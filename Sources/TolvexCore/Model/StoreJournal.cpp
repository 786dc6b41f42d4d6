#include "TolvexCore/Model/StoreJournal.h"

#include "TolvexCore/Model/DataRoot.h"


namespace tolvex {

QString StoreJournal::relativePath() const
{
    return DataRoot::journalPath(id);
}

} // namespace tolvex
