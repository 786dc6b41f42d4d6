#pragma once

#include "TolvexCore/Files/FileOperations.h"
#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Content/StagedContent.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/MaterialVersion.h"
#include "TolvexCore/Model/CancellationError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <limits>
#include <utility>

namespace tolvex {

// The content layer under the store: turns an import request into a staging
// file under "Transactions" with its size, digest, kind, extension and title,
// and later moves that file into "Materials" as an immutable version.
//
// Every disk access goes through the FileOperations value (the path guard
// aside). Nothing here deletes anything: a staging file written before a
// failure stays behind for the staging inventory and the cleanup to find.
//
// A dropped or chosen file is opened once and everything is read from that
// one descriptor: hashed through a small reused buffer, copied, hashed again.
// The staging copy is our own file and is mapped, not read, for its check and
// its classification; the two verifying digests run side by side. No whole-
// file buffer of a user's file is ever allocated.
class ContentStore {
public:
    ContentStore(const QUrl& root, FileOperationsRef files);

    const OwnedPaths& paths() const { return paths_; }
    const FileOperationsRef& files() const { return files_; }

    // Synchronous and thread-safe: the store runs it on the shared thread
    // pool, never on its own executor. The token is checked once, before the
    // staging file is named (CancellationError). A file is read only as far
    // as the size it had when it was checked here, and one byte past it: a
    // file that grows meanwhile is a changed source. One of more than
    // `maximumFileBytes` (the size its caller checked, or the budget's
    // limit) is one too, and is not read at all.
    StagedContent stage(const ImportRequest& request, const CancellationToken& cancellation = {},
        std::int64_t maximumFileBytes = std::numeric_limits<std::int64_t>::max()) const;

    // Moves a staged file into "Materials/<material>/<version>.<extension>".
    // StoreError::invalidPath() for a staging file outside "Transactions",
    // one reached through a link, or one whose digest no longer matches.
    MaterialVersion commit(const StagedContent& staged, const QUuid& materialID, const QUuid& versionID) const;

    // SHA-256 as 64 lower-case hexadecimal digits: the content hash of the data root.
    static QString digest(const QByteArray& bytes);
    // The same of a file read through one small reused buffer, never held
    // whole; `byteCount`, when given, receives the number of bytes hashed.
    // A file of more than `maximumBytes` is a changed source
    // (StoreError::sourceChanged), read no further than one byte past them.
    QString digestOf(const OpenFile& file, std::int64_t maximumBytes, std::int64_t* byteCount = nullptr) const;
    // Of one of the store's own files, whatever its size.
    QString digestOf(const QUrl& url) const;
    // Of a user's file just inspected as `before` (a regular file, not a
    // link), read from one file opened without following a link or waiting
    // for a FIFO's writer, no further than its size and one byte past it:
    // StoreError::sourceChanged when what was opened, what was read or what
    // stands at the path afterwards is not that file as it was.
    QString digestOfUnchanged(const QUrl& url, const FileInfo& before) const;
    // Opens a file a caller has just inspected as a regular file, without
    // following links or blocking; a link or socket now in its place is
    // StoreError::sourceChanged().
    OpenFile openSource(const QUrl& url) const;

    // The kind and payload extension of a file's bytes, given its path
    // extension (without the dot). ImageAdmissionError for a file that claims
    // to be an image but is not an admissible one.
    static std::pair<MaterialKind, QString> classify(const QByteArray& bytes, const QString& extension);

    // An upper-case UUID text followed by ".stage", and nothing else.
    static bool isStagingFilename(const QString& name);

    // The file name offered for an exported copy: the source file's base name
    // (made safe) or "Tolvex-" and the id's first 8 characters, then the
    // extension reduced to at most 12 ASCII letters and digits ("bin" when
    // nothing is left).
    static QString suggestedExportFilename(const MaterialRecord& record, const QString& fileExtension);

    // The title given to image bytes from the clipboard.
    static QString clipboardImageTitle();

private:
    StagedContent stageText(const ImportRequest::Text& text, const QUrl& stagingURL) const;
    StagedContent stageImageData(const ImportRequest::ImageData& image, const QUrl& stagingURL) const;
    StagedContent stageFile(const ImportRequest::File& file, const QUrl& stagingURL, std::int64_t maximumBytes) const;

    OwnedPaths paths_;
    FileOperationsRef files_;
};

} // namespace tolvex
