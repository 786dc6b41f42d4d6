#pragma once

#include "Velmarin/Shelf/Pegged.h"

#include <QCoro/QCoroTask>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>

namespace tolvex {

class Line;

// Copy, drag-out, markup and reveal of a material. This shell's version
// keeps the calls the rest of the program makes and does nothing yet; the
// actions' own work replaces the bodies, not the calls.
class MaterialActions {
public:
    MaterialActions(Line& line, QUrl root);
    virtual ~MaterialActions() = default;

    std::function<void(std::exception_ptr)> onError;

    virtual QCoro::Task<void> copy(QUuid id, bool includeSource);
    // What a card's drag carries.
    virtual QCoro::Task<std::shared_ptr<QMimeData>> dragProvider(Pegged card);
    virtual QCoro::Task<void> markup(QUuid id);
    virtual QCoro::Task<void> reveal(QUuid id);

protected:
    QPointer<Line> line_;
    QUrl root_;
};

} // namespace tolvex
