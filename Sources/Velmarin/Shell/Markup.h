#pragma once

#include <QCoro/QCoroTask>
#include <QPointer>

namespace tolvex {

class Line;

// The program's one markup session. Until markup exists it never edits,
// so it never holds a result to save.
class Markup {
public:
    static Markup& shared();

    // Set by the shell; a cover ends the session.
    QPointer<Line> privacyLine;

    bool isEditing = false;
    bool canRetrySaving = false;
    bool hasPendingResult = false;

    // Reports its own outcome; never throws.
    QCoro::Task<void> retrySaving();
};

} // namespace tolvex
