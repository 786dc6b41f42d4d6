#pragma once

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QUuid>

#include <exception>
#include <functional>

namespace tolvex {

class Line;
class MaterialActions;
class TextEditorController;

// The material detail window. This shell's version keeps the calls and
// the state the quit check reads; it opens no window yet.
class MaterialDetailController {
public:
    MaterialDetailController(Line& line, MaterialActions& actions, TextEditorController& editor);
    virtual ~MaterialDetailController() = default;

    std::function<void(std::exception_ptr)> onError;

    virtual QCoro::Task<void> open(QUuid id, bool present);

    // Asks the window's focused field to end its edit; false when it
    // refuses (or there is no window, true).
    virtual bool releaseFocus() { return true; }
    bool saving = false;
    bool hasUnsavedChanges = false;

protected:
    QPointer<Line> line_;
    MaterialActions& actions_;
    TextEditorController& editor_;
};

} // namespace tolvex
