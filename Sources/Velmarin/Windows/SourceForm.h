#pragma once

#include "TolvexCore/Model/SourceRecord.h"
#include "TolvexCore/Texts/MessageKey.h"

#include <QString>

#include <optional>

namespace tolvex {

// The detail window's source form as typed, compared field by field.
struct SourceDraft {
    enum Page { noPage = 0, physicalPage = 1, printedLabel = 2 };

    QString title;
    QString url;
    QString path;
    QString location;
    int page = noPage;

    // The form filled from a stored source.
    static SourceDraft of(const SourceRecord& source);
    // The file whose pages the form's physical page must be checked
    // against; nothing when it names no page of a file.
    std::optional<QString> pageCountPath() const;

    friend bool operator==(const SourceDraft&, const SourceDraft&) = default;
};

// The source record the form describes, built on the stored one (its
// origin kept, its file bookmark only while the path is unchanged). Throws
// StoreError::invalidSource for a form the store would refuse, and for a
// physical page that the file at the path does not have: `pageCount` is
// what pdfPageCount answered for draft.pageCountPath(), counted by the
// caller off the GUI thread.
SourceRecord validatedSource(const SourceDraft& draft, const SourceRecord& original, std::optional<int> pageCount);

// What is wrong with a web address as typed into the form, in the words the
// form shows beside it: unreadable, not a web page's scheme, or no site.
// Nothing for an empty or a good address.
std::optional<MessageKey> addressProblem(const QString& typed);

// Pages of the PDF at `path`; nothing unless it is a regular file (links
// followed) holding an unlocked PDF. Never opens anything else, so a FIFO
// or a device there cannot block the caller.
std::optional<int> pdfPageCount(const QString& path);

} // namespace tolvex
