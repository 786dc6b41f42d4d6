#pragma once

#include "TolvexCore/Texts/MessageKey.h"

#include <QString>
#include <QUrl>

#include <exception>
#include <optional>

namespace tolvex {

class Localizer;

// The one classification of errors for display: the sentence that explains
// an error to the user and the remedy the error alert offers. No raw error
// text ever reaches the user through it.
struct InteractionFeedback {
    // `restart`: nothing helps but starting the program again.
    enum class Kind { capacity, sourceChanged, access, busy, recovery, noApplication, restart };

    MessageKey message = MessageKey::feedbackRecovery;
    Kind kind = Kind::recovery;

    // What stands in the way when the error names it: an entry the store
    // does not own, and its folder relative to the data root.
    struct Entry {
        QString name;
        QString folder;
    };
    std::optional<Entry> strayEntry;
    // A name chosen by how it reads, which several files' names read as,
    // and their folder, both as they read.
    std::optional<Entry> ambiguousName;
    // The file no application would open, or the desktop could not be
    // asked to, which the alert offers to show.
    std::optional<QUrl> unopenedFile;

    // Never fails; an error it does not know is a recovery case.
    explicit InteractionFeedback(std::exception_ptr error);

    template <typename Error>
    static InteractionFeedback of(const Error& error)
    {
        return InteractionFeedback(std::make_exception_ptr(error));
    }

    // The message as the user reads it, with what it names filled in.
    QString text(const Localizer& localizer) const;

    // The key of the error alert's first button for the kind.
    static MessageKey remedyButton(Kind kind);
};

} // namespace tolvex
