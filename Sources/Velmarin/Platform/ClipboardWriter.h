#pragma once

#include <QMimeData>

#include <memory>

namespace tolvex {

// Puts the program's own copies on the desktop clipboard. The content is
// replaced in one step: clearing first and then failing would destroy what
// the user had copied. GUI thread only.
class ClipboardWriter {
public:
    virtual ~ClipboardWriter() = default;

    // True once the clipboard holds `data`; false when it refused it, and
    // the previous content is then left alone.
    virtual bool write(std::unique_ptr<QMimeData> data) = 0;
};

} // namespace tolvex
