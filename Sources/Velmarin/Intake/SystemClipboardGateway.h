#pragma once

#include "TolvexCore/Intake/ClipboardGateway.h"
#include "Velmarin/Platform/Pasteboard.h"

#include <memory>

namespace tolvex {

// The clipboard gateway over one pasteboard: the system clipboard for
// automatic intake, or a drop's data for the rope. One read turns the whole
// pasteboard into requests of a single kind (files, else images, else
// text), within the clipboard limits, or fails; nothing partial is ever
// returned and the pasteboard is never written. No item is read past its
// limit. The read runs where the pasteboard reads its items: at once for a
// drop and for our own copies (the future has ended on return), on the
// selection reader's thread for another program's clipboard. Started on the
// GUI thread.
class SystemClipboardGateway : public ClipboardGateway {
public:
    // The marker of the program's own copies; its value is "1".
    static constexpr const char16_t* ownType = PasteboardType::ownCopy;

    explicit SystemClipboardGateway(std::shared_ptr<Pasteboard> pasteboard);

    std::int64_t changeCount() const override;
    QFuture<ClipboardContents> readSnapshot() override;
    QFuture<ClipboardContents> readSnapshot(const ClipboardPreference& allowing) override;

    const Pasteboard& pasteboard() const { return *pasteboard_; }

private:
    std::shared_ptr<Pasteboard> pasteboard_;
};

} // namespace tolvex
