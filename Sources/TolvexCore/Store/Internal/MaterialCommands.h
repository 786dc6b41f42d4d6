#pragma once

#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <cstdint>

namespace tolvex {

class StoreContext;

// Carries out one user command on the loaded workspace and saves the result.
// Seven commands are carried out (take down, hang, take down the unpinned
// cards of a group, rename, set the source, privacy, capture folder); the
// other seven are refused with invalidSource and change nothing.
class MaterialCommands {
public:
    explicit MaterialCommands(StoreContext& context) : context_(context) {}

    // The caller has tested `busy`. Returns the saved snapshot, or the loaded
    // one unchanged for `hang` of a card that already hangs.
    WorkspaceSnapshot apply(const MaterialCommand& command, std::int64_t visibleCapacity);

private:
    StoreContext& context_;
};

} // namespace tolvex
