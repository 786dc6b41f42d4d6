#include "TolvexCore/Intake/ClipboardGateway.h"

namespace tolvex {

ClipboardContents ClipboardGateway::readSnapshot(const ClipboardPreference& allowing)
{
    ClipboardContents contents = readSnapshot();
    contents.requests.removeIf([&](const ImportRequest& request) { return !allowing.accepts(request); });
    return contents;
}

} // namespace tolvex
