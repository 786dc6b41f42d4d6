#pragma once

#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Texts/MessageKey.h"

#include <QList>
#include <QObject>

#include <memory>

namespace tolvex {

class ClipboardImportService;
class Line;

// Connects the rope's paste and drop to the clipboard service as manual
// input, and writes the one-line feedback the rope shows: that input is
// being received, then whether anything was saved. One manual intake is
// awaited at a time; a second one is refused with the reason. The line's
// callbacks hold the controller weakly and do nothing (a drop answers
// false) once it is gone. GUI thread only.
class LineIntakeController : public QObject {
public:
    // Installs the line's onPasteInput and onReceiveInput. The line must
    // outlive the controller.
    LineIntakeController(Line& line, std::shared_ptr<ClipboardImportService> service, QObject* parent = nullptr);

    // Mirrors whether the service takes manual input into the line and, once
    // the awaited intake has ended, shows its outcome. The shell calls it
    // whenever it refreshes the intake status.
    void refresh();

    bool awaitingCompletion() const { return awaitingCompletion_; }
    // Set by the shell when the service reports a material imported while an
    // intake is awaited.
    bool savedInput = false;

private:
    // Starts a manual intake, or shows why none may start now.
    bool begin();
    bool receive(const QList<ImportRequest>& requests);
    void show(MessageKey key);

    Line& line_;
    std::shared_ptr<ClipboardImportService> service_;
    bool awaitingCompletion_ = false;
};

} // namespace tolvex
