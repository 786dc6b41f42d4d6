#include "TolvexCore/Intake/ClipboardGateway.h"

namespace tolvex {

QFuture<ClipboardContents> ClipboardGateway::readSnapshot(const ClipboardPreference& allowing)
{
    QFuture<ClipboardContents> reading = readSnapshot();
    return reading.then([allowing](ClipboardContents contents) {
        contents.requests.removeIf([&](const ImportRequest& request) { return !allowing.accepts(request); });
        return contents;
    });
}

} // namespace tolvex
