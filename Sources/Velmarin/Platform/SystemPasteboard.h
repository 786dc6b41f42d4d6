#pragma once

#include "Velmarin/Platform/Pasteboard.h"

#include <QObject>

namespace tolvex {

// The desktop's clipboard (the CLIPBOARD selection on X11, not the primary
// selection). Its change count rises with every change Qt reports, ours
// included; it starts at 0 with whatever is on the clipboard then. GUI thread only.
class SystemPasteboard : public QObject, public Pasteboard {
    Q_OBJECT
public:
    explicit SystemPasteboard(QObject* parent = nullptr);

    std::int64_t changeCount() const override { return changeCount_; }
    QList<PasteboardItem> items() const override;

private:
    std::int64_t changeCount_ = 0;
};

} // namespace tolvex
