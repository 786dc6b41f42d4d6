#pragma once

#include "Velmarin/Platform/Pasteboard.h"

#include <QObject>

#include <memory>

namespace tolvex {

class X11SelectionReader;

// The desktop's clipboard (the CLIPBOARD selection on X11, not the primary
// selection). Its change count rises with every change Qt reports, ours
// included; it starts at 0 with whatever is on the clipboard then. On X11
// another program's content is read on the selection reader's own thread
// (X11SelectionReader), our own through Qt. GUI thread only.
class SystemPasteboard : public QObject, public Pasteboard {
    Q_OBJECT
public:
    explicit SystemPasteboard(QObject* parent = nullptr);
    ~SystemPasteboard() override;

    std::int64_t changeCount() const override { return changeCount_; }
    QFuture<void> readItems(ItemsReader read) const override;

Q_SIGNALS:
    // The clipboard changed: after every rise of the change count, and on
    // X11 as soon as the server tells the selection reader of a new owner,
    // which may be before Qt has seen it (the count has not risen yet then).
    // Only Qt's notice raises the count, so that one change never looks
    // like two.
    void changed();

private:
    std::int64_t changeCount_ = 0;
    std::shared_ptr<X11SelectionReader> reader_;
};

} // namespace tolvex
