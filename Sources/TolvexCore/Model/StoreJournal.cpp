#include "TolvexCore/Model/StoreJournal.h"

#include "TolvexCore/Model/UuidText.h"

namespace tolvex {

QString StoreJournal::relativePath() const
{
    return QStringLiteral("Transactions/") + uuidText(id) + QStringLiteral(".json");
}

} // namespace tolvex
