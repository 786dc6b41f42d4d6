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
// Content is handled whole in memory and each digest is one SHA-256 pass over
// one buffer; every whole-file buffer is released before the next is read, so
// staging never holds two copies of a large payload at once. A file is read
// three times: the source before its copy, the source after it, and the
// staging copy once (checked against the source, classified and recorded).
class ContentStore {
public:
    ContentStore(const QUrl& root, FileOperationsRef files);

    const OwnedPaths& paths() const { return paths_; }
    const FileOperationsRef& files() const { return files_; }

    // Synchronous and thread-safe: the store runs it on the shared thread
    // pool, never on its own executor. The token is checked once, before the
    // staging file is named (CancellationError).
    StagedContent stage(const ImportRequest& request, const CancellationToken& cancellation = {}) const;

    // Moves a staged file into "Materials/<material>/<version>.<extension>".
    // StoreError::invalidPath() for a staging file outside "Transactions",
    // one reached through a link, or one whose digest no longer matches.
    MaterialVersion commit(const StagedContent& staged, const QUuid& materialID, const QUuid& versionID) const;

    // SHA-256 as 64 lower-case hexadecimal digits: the content hash of the data root.
    static QString digest(const QByteArray& bytes);

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
    StagedContent stageFile(const ImportRequest::File& file, const QUrl& stagingURL) const;

    OwnedPaths paths_;
    FileOperationsRef files_;
};

} // namespace tolvex
