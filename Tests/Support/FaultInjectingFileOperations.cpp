#include "FaultInjectingFileOperations.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <string>
#include <system_error>

#include <sys/stat.h>

namespace tolvex {

namespace {

std::size_t indexOf(FileOperation operation)
{
    return static_cast<std::size_t>(operation);
}

// What a crash half-way through an atomic write leaves: the hidden temporary
// sibling with part of the bytes; the target itself is never touched.
bool isAbsoluteFileUrl(const QUrl& url)
{
    return url.isLocalFile() && url.toLocalFile().startsWith(QLatin1Char('/'));
}

void leaveAtomicWriteDebris(const QByteArray& bytes, const QUrl& url)
{
    if (!isAbsoluteFileUrl(url))
        return;
    const QFileInfo target(url.toLocalFile());
    const std::string name = atomicWriteTemporaryName(
        QFile::encodeName(target.fileName()).toStdString(), QRandomGenerator::global()->generate64());
    QFile file(target.absolutePath() + QLatin1Char('/') + QFile::decodeName(QByteArray::fromStdString(name)));
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.write(bytes.left(bytes.size() / 2));
}

// The bytes of the file a writeAtomicCopy copies; none when it cannot be read.
QByteArray bytesOf(const QUrl& url)
{
    QFile file(url.toLocalFile());
    return isAbsoluteFileUrl(url) && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A prepared write that a "dead" process left uncommitted: its temporary file
// stays on the disk for good, as nothing of that process runs any more to
// remove it. Never freed, on purpose: freeing it would remove the file.
void abandon(PreparedAtomicWrite& prepared)
{
    new PreparedAtomicWrite(std::move(prepared));
}

// What a crash half-way through a copy leaves: a destination with part of the
// source's bytes, or an empty folder for a folder.
void leaveCopyDebris(const QUrl& source, const QUrl& destination)
{
    if (!isAbsoluteFileUrl(source) || !isAbsoluteFileUrl(destination))
        return;
    const QString sourcePath = source.toLocalFile();
    const QString destinationPath = destination.toLocalFile();
    struct stat status {};
    if (::lstat(QFile::encodeName(sourcePath).constData(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode)) {
        QDir().mkdir(destinationPath);
    } else if (S_ISREG(status.st_mode)) {
        QFile input(sourcePath);
        QFile output(destinationPath);
        if (input.open(QIODevice::ReadOnly) && output.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            const QByteArray bytes = input.readAll();
            output.write(bytes.left(bytes.size() / 2));
        }
    }
}

} // namespace

std::string_view fileOperationName(FileOperation operation)
{
    static constexpr std::array<std::string_view, fileOperationCount> names{
        "inspect", "read", "createDirectory", "copy", "move", "writeAtomic", "availableBytes", "trash", "list", "open",
        "removeAtomicWriteLeftover", "sync", "commitAtomicWrite"};
    return names[indexOf(operation)];
}

FaultInjectingFileOperations::FaultInjectingFileOperations(FileOperationsRef inner) : inner_(std::move(inner)) {}

FaultInjectingFileOperations::Verdict FaultInjectingFileOperations::admit(
    FileOperation operation, const QUrl& url, const QUrl& destination, std::exception_ptr& error) const
{
    std::lock_guard lock(mutex_);
    if (crashed_)
        throw SimulatedCrash();
    if (filter_ && !filter_(operation, url))
        return Verdict::run;

    ++counts_[indexOf(operation)];
    ++total_;
    log_.append(Call{operation, url, destination});

    for (auto fault = faults_.begin(); fault != faults_.end(); ++fault) {
        if (fault->operation && *fault->operation != operation)
            continue;
        const int count = fault->operation ? counts_[indexOf(operation)] : total_;
        if (count != fault->n)
            continue;
        const Fault fired = *fault;
        faults_.erase(fault);
        switch (fired.kind) {
        case FaultKind::fail:
            error = fired.error;
            return Verdict::fail;
        case FaultKind::crash:
            crashed_ = true;
            changed_.notify_all();
            return Verdict::crash;
        case FaultKind::hold:
            ++heldCalls_;
            changed_.notify_all();
            return Verdict::hold;
        }
    }
    return Verdict::run;
}

void FaultInjectingFileOperations::enter(FileOperation operation, const QUrl& url, const QUrl& destination,
    const std::function<void()>& leaveDebris) const
{
    std::exception_ptr error;
    switch (admit(operation, url, destination, error)) {
    case Verdict::run:
        return;
    case Verdict::fail:
        std::rethrow_exception(error);
    case Verdict::crash: {
        bool debris = false;
        {
            std::lock_guard lock(mutex_);
            debris = debris_;
        }
        if (debris && leaveDebris)
            leaveDebris();
        throw SimulatedCrash();
    }
    case Verdict::hold:
        waitForRelease();
        return;
    }
}

void FaultInjectingFileOperations::waitForRelease() const
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return released_; });
    --heldCalls_;
    changed_.notify_all();
    // A crash armed while this call waited counts for it too: nothing reaches the disk any more.
    if (crashed_)
        throw SimulatedCrash();
}

FileInfo FaultInjectingFileOperations::inspect(const QUrl& url) const
{
    enter(FileOperation::inspect, url);
    return inner_->inspect(url);
}

QByteArray FaultInjectingFileOperations::read(const QUrl& url) const
{
    enter(FileOperation::read, url);
    return inner_->read(url);
}

void FaultInjectingFileOperations::createDirectory(const QUrl& url) const
{
    enter(FileOperation::createDirectory, url);
    inner_->createDirectory(url);
}

void FaultInjectingFileOperations::copy(const QUrl& source, const QUrl& destination) const
{
    enter(FileOperation::copy, source, destination, [&] { leaveCopyDebris(source, destination); });
    inner_->copy(source, destination);
}

void FaultInjectingFileOperations::move(const QUrl& source, const QUrl& destination) const
{
    enter(FileOperation::move, source, destination);
    inner_->move(source, destination);
}

void FaultInjectingFileOperations::writeAtomic(const QByteArray& bytes, const QUrl& url) const
{
    enter(FileOperation::writeAtomic, url, {}, [&] { leaveAtomicWriteDebris(bytes, url); });
    inner_->writeAtomic(bytes, url);
}

PreparedAtomicWrite FaultInjectingFileOperations::prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const
{
    enter(FileOperation::writeAtomic, url, {}, [&] { leaveAtomicWriteDebris(bytes, url); });
    const auto prepared = std::make_shared<PreparedAtomicWrite>(inner_->prepareAtomicWrite(bytes, url));
    // After a crash nothing reaches the disk any more, the removal of the
    // temporary file included.
    const auto keepIfCrashed = [this, prepared] {
        if (hasCrashed())
            abandon(*prepared);
    };
    // Failing or not, the commit drops `prepared` when it ends; unless
    // committed or kept, the temporary file goes with it, as after a failed
    // rename of the real commit.
    return PreparedAtomicWrite(
        [this, prepared, url, keepIfCrashed] {
            try {
                enter(FileOperation::commitAtomicWrite, url);
            } catch (const SimulatedCrash&) {
                keepIfCrashed();
                throw;
            }
            prepared->commit();
        },
        keepIfCrashed);
}

void FaultInjectingFileOperations::writeAtomicCopy(const QUrl& source, const QUrl& destination) const
{
    enter(FileOperation::writeAtomic, destination, {}, [&] { leaveAtomicWriteDebris(bytesOf(source), destination); });
    inner_->writeAtomicCopy(source, destination);
}

void FaultInjectingFileOperations::writeAtomicSeparateCopy(const QUrl& source, const QUrl& destination) const
{
    enter(FileOperation::writeAtomic, destination, {}, [&] { leaveAtomicWriteDebris(bytesOf(source), destination); });
    inner_->writeAtomicSeparateCopy(source, destination);
}

std::int64_t FaultInjectingFileOperations::availableBytes(const QUrl& url) const
{
    enter(FileOperation::availableBytes, url);
    SpaceOverride spaceOverride;
    std::int64_t figure;
    {
        std::lock_guard lock(mutex_);
        spaceOverride = spaceOverride_;
        figure = spaceFigure_;
    }
    switch (spaceOverride) {
    case SpaceOverride::figure:
        return figure;
    case SpaceOverride::unreported:
        throw StoreError::unavailableSpace();
    case SpaceOverride::none:
        break;
    }
    return inner_->availableBytes(url);
}

QUrl FaultInjectingFileOperations::trash(const QUrl& url) const
{
    enter(FileOperation::trash, url);
    return inner_->trash(url);
}

QList<QUrl> FaultInjectingFileOperations::list(const QUrl& url) const
{
    enter(FileOperation::list, url);
    return inner_->list(url);
}

OpenFile FaultInjectingFileOperations::open(const QUrl& url) const
{
    enter(FileOperation::open, url);
    return inner_->open(url);
}

FileInfo FaultInjectingFileOperations::inspect(const OpenFile& file) const
{
    enter(FileOperation::inspect, file.url());
    return inner_->inspect(file);
}

void FaultInjectingFileOperations::read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const
{
    enter(FileOperation::read, file.url());
    inner_->read(file, consume, maximumBytes);
}

MappedFile FaultInjectingFileOperations::map(const OpenFile& file) const
{
    enter(FileOperation::read, file.url());
    return inner_->map(file);
}

OpenFile FaultInjectingFileOperations::copy(const OpenFile& source, const QUrl& folder, const QString& relativePath,
    MissingFolders missing, std::int64_t maximumBytes) const
{
    const QUrl destination = QUrl::fromLocalFile(folder.toLocalFile() + u'/' + relativePath);
    enter(FileOperation::copy, source.url(), destination, [&] { leaveCopyDebris(source.url(), destination); });
    return inner_->copy(source, folder, relativePath, missing, maximumBytes);
}

void FaultInjectingFileOperations::sync(const OpenFile& file) const
{
    enter(FileOperation::sync, file.url());
    inner_->sync(file);
}

void FaultInjectingFileOperations::removeAtomicWriteLeftover(const QUrl& url) const
{
    enter(FileOperation::removeAtomicWriteLeftover, url);
    inner_->removeAtomicWriteLeftover(url);
}

void FaultInjectingFileOperations::setFilter(Filter filter)
{
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
}

int FaultInjectingFileOperations::callCount(FileOperation operation) const
{
    std::lock_guard lock(mutex_);
    return counts_[indexOf(operation)];
}

int FaultInjectingFileOperations::totalCallCount() const
{
    std::lock_guard lock(mutex_);
    return total_;
}

QList<FaultInjectingFileOperations::Call> FaultInjectingFileOperations::log() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

void FaultInjectingFileOperations::failCall(int n, int errorNumber, std::optional<FileOperation> operation)
{
    std::string text = "injected failure of ";
    text += operation ? fileOperationName(*operation) : std::string_view("call");
    text += " " + std::to_string(n);
    failCallWith(n, std::make_exception_ptr(std::system_error(errorNumber, std::generic_category(), text)), operation);
}

void FaultInjectingFileOperations::failCallWith(int n, std::exception_ptr error, std::optional<FileOperation> operation)
{
    std::lock_guard lock(mutex_);
    faults_.push_back(Fault{FaultKind::fail, n, operation, std::move(error)});
}

void FaultInjectingFileOperations::crashAtCall(int n, std::optional<FileOperation> operation)
{
    std::lock_guard lock(mutex_);
    faults_.push_back(Fault{FaultKind::crash, n, operation, {}});
}

void FaultInjectingFileOperations::setCrashLeavesDebris(bool debris)
{
    std::lock_guard lock(mutex_);
    debris_ = debris;
}

bool FaultInjectingFileOperations::hasCrashed() const
{
    std::lock_guard lock(mutex_);
    return crashed_;
}

void FaultInjectingFileOperations::holdCall(int n, std::optional<FileOperation> operation)
{
    std::lock_guard lock(mutex_);
    released_ = false;
    faults_.push_back(Fault{FaultKind::hold, n, operation, {}});
}

bool FaultInjectingFileOperations::waitUntilHeld(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return heldCalls_ > 0; });
}

void FaultInjectingFileOperations::release()
{
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void FaultInjectingFileOperations::setAvailableBytes(std::int64_t bytes)
{
    std::lock_guard lock(mutex_);
    spaceOverride_ = SpaceOverride::figure;
    spaceFigure_ = bytes;
}

void FaultInjectingFileOperations::setAvailableBytesUnreported()
{
    std::lock_guard lock(mutex_);
    spaceOverride_ = SpaceOverride::unreported;
}

void FaultInjectingFileOperations::clearAvailableBytesOverride()
{
    std::lock_guard lock(mutex_);
    spaceOverride_ = SpaceOverride::none;
}

void FaultInjectingFileOperations::reset()
{
    std::lock_guard lock(mutex_);
    filter_ = {};
    counts_.fill(0);
    total_ = 0;
    log_.clear();
    faults_.clear();
    crashed_ = false;
    debris_ = false;
    released_ = true;
    spaceOverride_ = SpaceOverride::none;
    spaceFigure_ = 0;
    changed_.notify_all();
}

} // namespace tolvex
