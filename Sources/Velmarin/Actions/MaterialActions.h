#pragma once

#include "TolvexCore/Model/EditResult.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "Velmarin/Shelf/Pegged.h"

#include <QCoro/QCoroTask>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace tolvex {

class ClipboardWriter;
class DesktopOpener;
class Line;
class Markup;
class MaterialStore;

// Everything the interface does with one material outside the shelf: copy
// it to the clipboard, open or reveal an exported copy, mark up an image as
// a new version, and prepare a card's drag. Each operation reads the
// material afresh from the line's snapshot and drops its result, failing
// with StoreError::invalidSource, once the shelf was covered for privacy
// since it began. Errors are thrown to the caller, except those of a markup
// session's end, which has no caller left and goes to onError. GUI thread.
class MaterialActions : public QObject {
public:
    // How long a card shows its copied mark.
    static constexpr std::chrono::milliseconds copiedMarkDuration{1400};

    // Everything passed in must outlive the actions. Without a store every
    // operation fails with StoreError::invalidSource; without a clipboard
    // writer, desktop opener or markup session the program's own are used.
    MaterialActions(Line& line, QUrl root, MaterialStore* store = nullptr, ClipboardWriter* clipboard = nullptr,
        DesktopOpener* desktop = nullptr, Markup* markup = nullptr);

    std::function<void(std::exception_ptr)> onError = [](std::exception_ptr) {};

    QCoro::Task<void> copy(QUuid id, bool includeSource);
    // Opens an exported copy in its default application; a material of kind
    // file is only revealed, so no arbitrary file is ever launched. Without
    // an application for the copy, NoApplicationError names the copy; when
    // the desktop could not be asked, OpenFailedError does.
    QCoro::Task<void> open(QUuid id);
    // Shows an exported copy in the file manager; RevealFailedError names
    // the copy when neither it nor its folder could be shown.
    QCoro::Task<void> reveal(QUuid id);
    // Returns once the markup editor has been asked to edit.
    QCoro::Task<void> markup(QUuid id);
    // The drag's data (a CopyOutMimeData).
    QCoro::Task<std::shared_ptr<QMimeData>> dragProvider(Pegged card);

private:
    struct Guard;
    Guard guard() const;
    // Each checks the guard once the store has answered.
    QCoro::Task<QUrl> locateActive(MaterialRecord record, Guard guard);
    QCoro::Task<QUrl> exportActive(MaterialRecord record, QUrl payload, Guard guard);
    // The record and a fresh exported copy of its active version: what
    // opening and revealing both start with.
    QCoro::Task<std::pair<MaterialRecord, QUrl>> exportedCopy(QUuid id);
    QCoro::Task<void> revealCopy(QUrl copy);
    QCoro::Task<void> finishMarkup(EditSession session, EditResult result);

    MaterialStore& store() const;

    QPointer<Line> line_;
    QUrl root_;
    MaterialStore* store_;
    ClipboardWriter& clipboard_;
    DesktopOpener& desktop_;
    Markup& markup_;
};

} // namespace tolvex
