#pragma once

#include "TolvexCore/Files/FileInfo.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstdint>
#include <memory>

namespace tolvex {

// The one interface through which the core touches the disk. Every operation
// is synchronous, may be called from any thread at once, and reports a failed
// system call as std::system_error with the errno (ENOENT for a missing item,
// EEXIST for an existing destination). Nothing here deletes anything.
class FileOperations {
public:
    virtual ~FileOperations() = default;

    // Describes the item without following a symbolic link at its end.
    virtual FileInfo inspect(const QUrl& url) const = 0;
    // The whole contents of the file.
    virtual QByteArray read(const QUrl& url) const = 0;
    // Creates the folder and every missing folder above it; an existing folder is fine.
    virtual void createDirectory(const QUrl& url) const = 0;
    // Copies to a destination that must not exist yet.
    virtual void copy(const QUrl& source, const QUrl& destination) const = 0;
    // Moves or renames to a destination that must not exist yet.
    virtual void move(const QUrl& source, const QUrl& destination) const = 0;
    // A reader sees either the old file or the whole new one, also after a crash.
    virtual void writeAtomic(const QByteArray& bytes, const QUrl& url) const = 0;
    // Free bytes of the volume for important use; StoreError::unavailableSpace when unknown.
    virtual std::int64_t availableBytes(const QUrl& url) const = 0;
    // Moves the item to the user's Trash and returns where it now lies.
    virtual QUrl trash(const QUrl& url) const = 0;
    // The entries of a folder, hidden ones included, unsorted, not recursive.
    virtual QList<QUrl> list(const QUrl& url) const = 0;
};

// Held by every user of the file layer; implementations keep no mutable state
// that needs a lock, so one instance is shared across threads.
using FileOperationsRef = std::shared_ptr<const FileOperations>;

} // namespace tolvex
