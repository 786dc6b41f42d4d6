#pragma once

#include <QUrl>

#include <variant>

namespace tolvex {

// How an editor ends an edit session: save the edited working file as a new
// version, or cancel.
struct EditResult {
    struct Save { QUrl editedFile; };
    struct Cancel {
        // The editor kept nothing: nothing was drawn, or the user threw it
        // away. The store then gives the session up, unless its working file
        // holds something else than the version it builds on.
        bool keptNothing = false;
    };

    std::variant<Save, Cancel> value;

    static EditResult save(QUrl editedFile) { return {Save{std::move(editedFile)}}; }
    static EditResult cancel() { return {Cancel{}}; }
    static EditResult discard() { return {Cancel{true}}; }

    const Save* asSave() const { return std::get_if<Save>(&value); }
    bool discards() const
    {
        const Cancel* cancelled = std::get_if<Cancel>(&value);
        return cancelled && cancelled->keptNothing;
    }
};

} // namespace tolvex
