#pragma once

#include "TolvexCore/Intake/ClipboardGateway.h"
#include "Velmarin/Platform/Pasteboard.h"

#include <memory>

namespace tolvex {

// The clipboard gateway over one pasteboard: the system clipboard for
// automatic intake, or a drop's data for the rope. One read turns the whole
// pasteboard into requests of a single kind (files, else images, else
// text), within the clipboard limits, or throws; nothing partial is ever
// returned and the pasteboard is never written. GUI thread only.
class SystemClipboardGateway : public ClipboardGateway {
public:
    // The marker of the program's own copies; its value is "1".
    static constexpr const char16_t* ownType = PasteboardType::ownCopy;

    explicit SystemClipboardGateway(std::shared_ptr<Pasteboard> pasteboard);

    std::int64_t changeCount() const override;
    ClipboardContents readSnapshot() override;
    ClipboardContents readSnapshot(const ClipboardPreference& allowing) override;

    const Pasteboard& pasteboard() const { return *pasteboard_; }

private:
    std::shared_ptr<Pasteboard> pasteboard_;
};

} // namespace tolvex
