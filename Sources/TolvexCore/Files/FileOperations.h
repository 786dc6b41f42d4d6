#pragma once

#include "TolvexCore/Files/FileIdentity.h"
#include "TolvexCore/Files/FileInfo.h"
#include "TolvexCore/Files/MappedFile.h"
#include "TolvexCore/Files/OpenFile.h"
#include "TolvexCore/Files/PreparedAtomicWrite.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tolvex {

// The one interface through which the core touches the disk. Every operation
// is synchronous, may be called from any thread at once, and reports a failed
// system call as std::system_error with the errno (ENOENT for a missing item,
// EEXIST for an existing destination). Nothing here deletes anything.
// An item below the path of a folder this process holds (DataRootLock) is
// reached through that folder, wherever it now lies, never through whatever
// stands at the path.
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
    // writeAtomic() in two steps, for a caller with other work to do while
    // the bytes go to the disk: this call writes and flushes them under a
    // temporary name beside the target, where no reader looks (the name of
    // the leftovers an interrupted writeAtomic leaves); the answer's commit()
    // then renames them over the target and flushes the folder. Dropping the
    // answer uncommitted removes the temporary file. Both steps together do
    // and throw what writeAtomic() would. By default this call only keeps the
    // bytes, and commit() is writeAtomic().
    virtual PreparedAtomicWrite prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const
    {
        return PreparedAtomicWrite([this, bytes, url] { writeAtomic(bytes, url); }, {});
    }
    // Replaces `destination` with the bytes of the file at `source` as
    // writeAtomic would. A file system may give the file a second name
    // instead of copying it, so both must only ever be replaced whole, never
    // changed in place: only for two files that are both the program's own.
    // By default the bytes are read and written.
    virtual void writeAtomicCopy(const QUrl& source, const QUrl& destination) const
    {
        writeAtomic(read(source), destination);
    }
    // The same with a copy of its own at `destination`, never a second name
    // of the source: for a file handed to the user or to another program,
    // who may change it in place, while the program keeps the source (and
    // may change it) for itself. The source is opened without following a
    // link and must be a regular file. By default the bytes are read and written.
    virtual void writeAtomicSeparateCopy(const QUrl& source, const QUrl& destination) const
    {
        writeAtomic(read(source), destination);
    }
    // Free bytes of the volume for important use; StoreError::unavailableSpace when unknown.
    virtual std::int64_t availableBytes(const QUrl& url) const = 0;
    // Moves the item to the user's Trash and returns where it now lies.
    virtual QUrl trash(const QUrl& url) const = 0;
    // The entries of a folder, hidden ones included, unsorted, not recursive.
    virtual QList<QUrl> list(const QUrl& url) const = 0;
    // The names of the same entries, in the same order (each URL's
    // fileName()), with the same errors: for folders of many entries whose
    // URLs the caller does not need. By default taken from list().
    virtual QStringList listNames(const QUrl& url) const
    {
        QStringList names;
        for (const QUrl& entry : list(url))
            names.append(entry.fileName());
        return names;
    }

    // What inspectBelow() found of one item: the errno of a look that
    // failed, or what inspect() reports, with the item's identity where the
    // file layer can vouch that its change times tell every change apart.
    struct ItemLook {
        int error = 0;
        FileInfo info;
        std::optional<FileIdentity> identity;
    };
    // inspect() of each of `relativePaths` below `folder`, in order, where a
    // failed look is reported in its answer instead of thrown: for a caller
    // that looks at many items and wants to know which of them changed since
    // an earlier look. Each path is plain: no empty, "." or ".." component
    // (EINVAL otherwise). Absent when the file layer has no such look (the
    // default): the caller then inspects item by item, and may assume
    // nothing about what it saw before.
    virtual std::optional<std::vector<ItemLook>> inspectBelow(const QUrl& folder, const QStringList& relativePaths) const
    {
        Q_UNUSED(folder);
        Q_UNUSED(relativePaths);
        return std::nullopt;
    }

    // Checking a file by its name and then reading or copying it by the same
    // name lets anyone swap it between the two (for a link, a folder or a
    // FIFO). These calls work on one open file instead.

    // Opens the item for reading without following a symbolic link at its end
    // (ELOOP) and without waiting for a FIFO's writer; what it is (it may be
    // a folder or a FIFO) is for the caller to check with inspect(file).
    virtual OpenFile open(const QUrl& url) const = 0;
    // Describes the open item itself (fstat).
    virtual FileInfo inspect(const OpenFile& file) const = 0;
    // Hands the contents, from the start to the end, to `consume` in pieces
    // through one buffer reused for every piece: at most `maximumBytes` of
    // them. A file that holds more fails with EFBIG once one byte past the
    // limit has been read, so that a file someone keeps growing costs no
    // more than its limit, however long it grows.
    using Consumer = std::function<void(const char* data, std::size_t size)>;
    virtual void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const = 0;
    // The whole contents as one read-only mapping. Only for the store's own
    // files: a mapped file truncated by someone else faults on access.
    virtual MappedFile map(const OpenFile& file) const = 0;
    // Copies the open file to `relativePath` below `folder`, creating the
    // file exclusively (EEXIST) and, with MissingFolders::create, the missing
    // folders on the way (else ENOENT). Every component below `folder` is
    // opened without following links, so a folder swapped for a link after
    // the caller checked the path fails (ELOOP, ENOTDIR) instead of
    // redirecting the copy. The relative path has no empty, "." or ".."
    // component (EINVAL). Returns the new file, open for reading. Its folder
    // entry is flushed, its contents are not: the caller flushes them with
    // sync(), while it does other work if it likes (the disk, not the CPU,
    // is what a flush of a large copy waits for). A source that holds more
    // than `maximumBytes` fails the copy with EFBIG as read() does, once one
    // byte past the limit was copied, and leaves no new file.
    enum class MissingFolders { create, fail };
    virtual OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relativePath,
        MissingFolders missing, std::int64_t maximumBytes) const = 0;
    // Flushes the open file's contents to the disk (fsync).
    virtual void sync(const OpenFile& file) const = 0;

    // Removes the temporary file an interrupted writeAtomic left behind (a
    // crash or a kill between its creation and its rename). It is the only
    // removal of the file layer and it refuses (EINVAL) any item whose name
    // is not such a temporary name, or that is not a regular file, so that
    // nothing else can ever be deleted through it.
    virtual void removeAtomicWriteLeftover(const QUrl& url) const = 0;
};

// Held by every user of the file layer; implementations keep no mutable state
// that needs a lock, so one instance is shared across threads.
using FileOperationsRef = std::shared_ptr<const FileOperations>;

} // namespace tolvex
