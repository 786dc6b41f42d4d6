#pragma once

#include <QUrl>

#include <variant>

namespace tolvex {

// How an editor ends an edit session: save the edited working file as a new
// version, or cancel.
struct EditResult {
    struct Save { QUrl editedFile; };
    struct Cancel {};

    std::variant<Save, Cancel> value;

    static EditResult save(QUrl editedFile) { return {Save{std::move(editedFile)}}; }
    static EditResult cancel() { return {Cancel{}}; }

    const Save* asSave() const { return std::get_if<Save>(&value); }
};

} // namespace tolvex
