#pragma once

#include "Velmarin/Platform/ClipboardWriter.h"

namespace tolvex {

// The desktop clipboard (the CLIPBOARD selection on X11) through QClipboard.
class QtClipboardWriter final : public ClipboardWriter {
public:
    bool write(std::unique_ptr<QMimeData> data) override;
};

} // namespace tolvex
