#pragma once

#include "TolvexCore/Model/ImportRequest.h"

#include <QList>

#include <cstdint>

namespace tolvex {

// One complete read of a pasteboard. Never persisted.
struct ClipboardContents {
    // The pasteboard's change count when the read began.
    std::int64_t revision = 0;
    // Every item of a non-empty pasteboard carried the program's own marker.
    bool isSelfProduced = false;
    // In pasteboard item order, all of one kind: files, images or text.
    QList<ImportRequest> requests;
};

} // namespace tolvex
