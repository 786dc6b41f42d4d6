#pragma once

#include "Velmarin/Actions/MarkupService.h"

#include <QPointer>

#include <cstdint>

namespace tolvex {

class Line;

// Our markup editor offered as the markup service: the file is decoded on a
// worker thread and shown in a MarkupEditorWindow, which answers with a
// QImage, or with the user-cancel error. An image the editor cannot take
// (unreadable, or over its own pixel budget, which is kept below the
// program's admission budget because the window holds the picture twice) is
// refused by canPerform, so the caller takes its fallback path.
class MarkupEditorService final : public MarkupService {
public:
    // The window hides while `line` (when given) is covered for privacy.
    explicit MarkupEditorService(Line* line = nullptr);

    // 4096 x 4096.
    static constexpr std::int64_t editorPixelBudget = 16777216;

    bool canPerform(const QUrl& item) const override;
    void perform(const QUrl& item, DidShare didShare, DidFail didFail) override;

private:
    QPointer<Line> line_;
};

} // namespace tolvex
