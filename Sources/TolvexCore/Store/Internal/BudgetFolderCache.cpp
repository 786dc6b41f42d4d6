#include "TolvexCore/Store/Internal/BudgetFolderCache.h"

#include <chrono>

namespace tolvex {

std::int64_t BudgetFolderCache::systemClock()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace tolvex
