#pragma once

#include "TolvexCore/Intake/ClipboardContents.h"
#include "TolvexCore/Model/ClipboardPreference.h"

#include <cstdint>

namespace tolvex {

// The core's only way to the clipboard; the application supplies the real
// one. Used on the GUI thread only.
class ClipboardGateway {
public:
    virtual ~ClipboardGateway() = default;

    // Rises with every write to the pasteboard, by any program.
    virtual std::int64_t changeCount() const = 0;
    // Reads every kind. Returns a complete result or throws; never a part.
    virtual ClipboardContents readSnapshot() = 0;
    // Reads only the kinds the preference allows. This default filters a
    // full read, keeping the order, the revision and the self-produced flag.
    virtual ClipboardContents readSnapshot(const ClipboardPreference& allowing);
};

} // namespace tolvex
