#pragma once

namespace tolvex {

// What an import does with a duplicate that is taken down.
enum class DuplicateImportPolicy {
    // It stays down.
    keepExisting,
    // It hangs again; for clipboard, drop and file-selection content the
    // duplicate is also recognised by its bytes among records of other sources.
    rehangTakenDown,
};

} // namespace tolvex
