#pragma once

#include "TolvexCore/Model/EditSession.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QUuid>

#include <exception>
#include <functional>

namespace tolvex {

class Line;

// The text-version editor. This shell's version keeps the calls and the
// state the quit check reads; it opens no window yet, so it never holds
// unsaved work.
class TextEditorController {
public:
    explicit TextEditorController(Line& line);
    virtual ~TextEditorController() = default;

    std::function<void(std::exception_ptr)> onError;

    virtual QCoro::Task<void> open(QUuid id, bool present);
    virtual QCoro::Task<void> resume(EditSession session, bool present);

    bool isEditing = false;

protected:
    QPointer<Line> line_;
};

} // namespace tolvex
