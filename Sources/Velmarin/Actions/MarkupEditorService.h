#pragma once

#include "Velmarin/Actions/MarkupService.h"

#include <QPointer>

#include <memory>

namespace tolvex {

class Line;

// Our markup editor offered as the markup service: the file is decoded on a
// worker thread, together with a smaller copy to draw on screen, and shown in
// a MarkupEditorWindow, which answers with the marked image at full size, or
// with the user-cancel error. It takes every local file: whatever the program
// admits (up to its pixel budget) it can show, and a file it cannot decode
// after all is answered with the unreadable error, which the session reports.
class MarkupEditorService final : public MarkupService {
public:
    // The window hides while `line` (when given) is covered for privacy.
    explicit MarkupEditorService(Line* line = nullptr);
    ~MarkupEditorService() override;

    // The longer side of the copy the window draws; the marks are still
    // made and rendered in the image's own pixels.
    static constexpr int viewSide = 2048;

    bool canPerform(const QUrl& item) const override;
    void perform(const QUrl& item, DidShare didShare, DidFail didFail) override;
    void dismiss() override;
    bool bringForward() override;
    std::function<QImage()> keptImage() const override;

    struct Showing;

private:
    QPointer<Line> line_;
    std::shared_ptr<Showing> showing_;
};

} // namespace tolvex
