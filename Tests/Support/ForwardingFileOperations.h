#pragma once

#include "TolvexCore/Files/SystemFileOperations.h"

namespace tolvex::testing {

// Passes every call on to another file layer (the real one by default).
// Tests derive from it and override only the calls they want to change.
class ForwardingFileOperations : public FileOperations {
public:
    explicit ForwardingFileOperations(FileOperationsRef inner = SystemFileOperations::shared()) : inner(std::move(inner)) {}

    FileInfo inspect(const QUrl& url) const override { return inner->inspect(url); }
    QByteArray read(const QUrl& url) const override { return inner->read(url); }
    void createDirectory(const QUrl& url) const override { inner->createDirectory(url); }
    void copy(const QUrl& source, const QUrl& destination) const override { inner->copy(source, destination); }
    void move(const QUrl& source, const QUrl& destination) const override { inner->move(source, destination); }
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override { inner->writeAtomic(bytes, url); }
    // The save's own steps, as the inner layer takes them (not through
    // writeAtomic): a test that changes writeAtomic for the save changes
    // these as well.
    PreparedAtomicWrite prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const override
    {
        return inner->prepareAtomicWrite(bytes, url);
    }
    void writeAtomicCopy(const QUrl& source, const QUrl& destination) const override
    {
        inner->writeAtomicCopy(source, destination);
    }
    void writeAtomicSeparateCopy(const QUrl& source, const QUrl& destination) const override
    {
        inner->writeAtomicSeparateCopy(source, destination);
    }
    std::int64_t availableBytes(const QUrl& url) const override { return inner->availableBytes(url); }
    QUrl trash(const QUrl& url) const override { return inner->trash(url); }
    QList<QUrl> list(const QUrl& url) const override { return inner->list(url); }
    OpenFile open(const QUrl& url) const override { return inner->open(url); }
    FileInfo inspect(const OpenFile& file) const override { return inner->inspect(file); }
    void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const override
    {
        inner->read(file, consume, maximumBytes);
    }
    MappedFile map(const OpenFile& file) const override { return inner->map(file); }
    void removeAtomicWriteLeftover(const QUrl& url) const override { inner->removeAtomicWriteLeftover(url); }
    void sync(const OpenFile& file) const override { inner->sync(file); }
    OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relativePath,
        MissingFolders missing, std::int64_t maximumBytes) const override
    {
        return inner->copy(source, folder, relativePath, missing, maximumBytes);
    }

    FileOperationsRef inner;
};

} // namespace tolvex::testing
