#include "Velmarin/Shelf/LineStore.h"

#include "TolvexCore/Store/MaterialStore.h"

namespace tolvex {

QFuture<WorkspaceSnapshot> MaterialLineStore::load()
{
    return store_.load();
}

QFuture<WorkspaceSnapshot> MaterialLineStore::apply(const MaterialCommand& command, std::int64_t visibleCapacity)
{
    return store_.apply(command, visibleCapacity);
}

QFuture<PresentationPayloads> MaterialLineStore::presentationPayloads(const QList<MaterialRecord>& records)
{
    return store_.presentationPayloads(records);
}

} // namespace tolvex
