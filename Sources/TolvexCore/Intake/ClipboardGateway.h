#pragma once

#include "TolvexCore/Intake/ClipboardContents.h"
#include "TolvexCore/Model/ClipboardPreference.h"

#include <QFuture>

#include <cstdint>

namespace tolvex {

// The core's only way to the clipboard; the application supplies the real
// one. Called on the GUI thread. A read may have to wait for another
// program, so it answers a future, which the caller awaits; the reading
// itself happens wherever the gateway sees fit.
class ClipboardGateway {
public:
    virtual ~ClipboardGateway() = default;

    // Rises with every write to the pasteboard, by any program.
    virtual std::int64_t changeCount() const = 0;
    // Reads every kind. Ends with a complete result or an error; never a part.
    virtual QFuture<ClipboardContents> readSnapshot() = 0;
    // Reads only the kinds the preference allows. This default filters a
    // full read, keeping the order, the revision and the self-produced flag.
    virtual QFuture<ClipboardContents> readSnapshot(const ClipboardPreference& allowing);
};

} // namespace tolvex
