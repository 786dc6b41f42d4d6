#pragma once

#include "TolvexCore/Model/Date.h"

#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

// A note being written; stored as "Drafts/<id>/note.json".
struct NoteDraft {
    // The most UTF-8 bytes a note may hold (1 MiB).
    static constexpr std::int64_t maximumTextBytes = 1048576;
    // The largest "note.json" the store reads: six times the text limit plus 8 KiB.
    static constexpr std::int64_t maximumFileBytes = 6299648;

    QUuid id;
    // The material the note becomes (a fresh id for a new note) or continues.
    QUuid materialID;
    QUuid matterID;
    std::optional<QUuid> baseVersionID;
    QString text;
    // Saved text changes since the draft was made.
    std::uint64_t revision = 0;
    // The revision last published (or read from the continued material).
    std::optional<std::uint64_t> publishedRevision;
    Date updatedAt;

    // Whether the draft holds text that has not been published.
    bool isPending() const { return !publishedRevision.has_value() || revision != *publishedRevision; }

    friend bool operator==(const NoteDraft& a, const NoteDraft& b);
};

} // namespace tolvex
