#pragma once

#include "TolvexCore/Model/NoteDraft.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QUuid>

#include <exception>
#include <functional>

namespace tolvex {

class Line;

// The note editor. This shell's version keeps the calls and the state the
// quit check reads; it opens no window yet, so it never holds unsaved work.
class NoteEditorController {
public:
    explicit NoteEditorController(Line& line);
    virtual ~NoteEditorController() = default;

    std::function<void(std::exception_ptr)> onError;
    // A note was hung; the shell shows the line.
    std::function<void()> onHung;

    virtual QCoro::Task<void> openNew(bool present);
    virtual QCoro::Task<void> open(QUuid id, bool present);
    virtual QCoro::Task<void> resume(NoteDraft draft, bool present);

    // Any of these blocks quitting.
    bool hasUnsavedInput = false;
    bool opening = false;
    bool hanging = false;
    bool dismissing = false;
    bool hasPersistenceTask = false;

    bool blocksQuit() const { return hasUnsavedInput || opening || hanging || dismissing || hasPersistenceTask; }

protected:
    QPointer<Line> line_;
};

} // namespace tolvex
