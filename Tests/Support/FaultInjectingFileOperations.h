#pragma once

// A FileOperations that wraps another one (normally the real file layer) and
// counts, fails, "crashes" or holds chosen calls, for crash-safety and
// interleaving tests of everything built on the file layer.
//
// A crash-point sweep over one store operation goes like this:
//   1. Build a data root, wrap SystemFileOperations::shared() in this class
//      (optionally with a filter, e.g. only calls under the data root, or only
//      writeAtomic and move), run the operation once and read
//      totalCallCount() (or callCount(op)): N calls.
//   2. For i in 1...N: copy the prepared data root into a fresh temporary
//      folder; build a new injector over it and arm either failCall(i, errno)
//      (the call fails cleanly, the process lives on) or crashAtCall(i) (the
//      call and everything after it never reach the disk, as if the process
//      died there; with crashLeavesDebris the interrupted call also leaves
//      the half-written temporary or copied file that a real crash could);
//      run the operation and expect the injected error or SimulatedCrash.
//   3. Throw the old store away, build a new store over the same folder with
//      the plain SystemFileOperations and check that it loads, that nothing
//      committed before call i was lost, and that everything decodes.
//   log() names the call that step i hit, for the failure message.
//
// Thread-safe: a mutex guards the counters, the log and the armed faults; it
// is never held while the wrapped operation runs, so a held call does not
// block other calls.

#include "TolvexCore/Files/FileOperations.h"

#include <QException>
#include <QList>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace tolvex {

// The calls on an open file count as the operation they stand for (inspect,
// read, copy); a mapping counts as a read. An atomic write in two steps
// (prepareAtomicWrite) counts as a writeAtomic of its target where it writes
// the bytes, and its commit as a commitAtomicWrite of the same target; a
// writeAtomicCopy and a writeAtomicSeparateCopy count as a writeAtomic of
// their destination.
enum class FileOperation {
    inspect, read, createDirectory, copy, move, writeAtomic, availableBytes, trash, list, open, removeAtomicWriteLeftover,
    sync, commitAtomicWrite
};

inline constexpr std::size_t fileOperationCount = 13;

std::string_view fileOperationName(FileOperation operation);

// What an injected crash throws at the crashing call and at every call after
// it. A QException, so it crosses a QFuture as itself.
class SimulatedCrash : public QException {
public:
    const char* what() const noexcept override { return "simulated crash"; }
    void raise() const override { throw *this; }
    SimulatedCrash* clone() const override { return new SimulatedCrash(*this); }
};

class FaultInjectingFileOperations final : public FileOperations {
public:
    struct Call {
        FileOperation operation;
        QUrl url;
        // The destination of copy and move; empty otherwise.
        QUrl destination;
    };

    // Decides whether a call is eligible: counted, logged and open to faults.
    // Ineligible calls pass straight through (unless the process has crashed).
    // For copy and move, `url` is the source. It runs under the injector's
    // lock, so it must not call back into the injector.
    using Filter = std::function<bool(FileOperation operation, const QUrl& url)>;

    explicit FaultInjectingFileOperations(FileOperationsRef inner);

    FileInfo inspect(const QUrl& url) const override;
    QByteArray read(const QUrl& url) const override;
    void createDirectory(const QUrl& url) const override;
    void copy(const QUrl& source, const QUrl& destination) const override;
    void move(const QUrl& source, const QUrl& destination) const override;
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override;
    PreparedAtomicWrite prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const override;
    void writeAtomicCopy(const QUrl& source, const QUrl& destination) const override;
    void writeAtomicSeparateCopy(const QUrl& source, const QUrl& destination) const override;
    std::int64_t availableBytes(const QUrl& url) const override;
    QUrl trash(const QUrl& url) const override;
    QList<QUrl> list(const QUrl& url) const override;
    OpenFile open(const QUrl& url) const override;
    FileInfo inspect(const OpenFile& file) const override;
    void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const override;
    MappedFile map(const OpenFile& file) const override;
    void removeAtomicWriteLeftover(const QUrl& url) const override;
    OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relativePath,
        MissingFolders missing, std::int64_t maximumBytes) const override;
    void sync(const OpenFile& file) const override;

    void setFilter(Filter filter);

    // Eligible calls so far, of one operation and of all.
    int callCount(FileOperation operation) const;
    int totalCallCount() const;
    QList<Call> log() const;

    // The `n`th (1-based) eligible call of `operation` (or of any operation
    // when none is given) throws instead of running: std::system_error with
    // `errorNumber`, or the given exception. Each armed fault fires once.
    void failCall(int n, int errorNumber, std::optional<FileOperation> operation = std::nullopt);
    void failCallWith(int n, std::exception_ptr error, std::optional<FileOperation> operation = std::nullopt);
    // The `n`th eligible call throws SimulatedCrash without running, and from
    // then on every call, eligible or not, throws SimulatedCrash.
    void crashAtCall(int n, std::optional<FileOperation> operation = std::nullopt);
    // With debris, the crashing call leaves what a real crash in the middle of
    // it could: writeAtomic (the writing step of a prepared write and a
    // writeAtomicCopy too) a hidden temporary file beside its target holding
    // the first half of the bytes (the target untouched); copy of a file a
    // destination holding the first half of the source, copy of a folder an
    // empty destination folder. A prepared write whose commit crashes, or
    // that is dropped after a crash, keeps its whole temporary file in either
    // mode: a process that dies after writing it leaves it so.
    void setCrashLeavesDebris(bool debris);
    bool hasCrashed() const;

    // The `n`th eligible call waits, before it runs, until release().
    void holdCall(int n, std::optional<FileOperation> operation = std::nullopt);
    // Waits until a call is being held; false after `timeout`.
    bool waitUntilHeld(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Lets every held call run, and every call that the armed holds reach
    // later; holdCall() arms the latch again.
    void release();

    // availableBytes answers this figure instead of asking the wrapped layer
    // (the call is still counted and open to faults).
    void setAvailableBytes(std::int64_t bytes);
    // availableBytes fails as a volume without a figure does: StoreError::unavailableSpace.
    void setAvailableBytesUnreported();
    void clearAvailableBytesOverride();

    // Forgets counts, log, armed faults, the crash, the override and the
    // filter, and releases a held call.
    void reset();

private:
    enum class FaultKind { fail, crash, hold };
    struct Fault {
        FaultKind kind;
        int n;
        std::optional<FileOperation> operation;
        std::exception_ptr error;
    };
    enum class Verdict { run, fail, crash, hold };

    // Counts the call and decides its fate; throws SimulatedCrash after a crash.
    Verdict admit(FileOperation operation, const QUrl& url, const QUrl& destination, std::exception_ptr& error) const;
    // Applies the verdict: throws for fail and crash, waits for hold.
    void enter(FileOperation operation, const QUrl& url, const QUrl& destination = {},
        const std::function<void()>& leaveDebris = {}) const;
    void waitForRelease() const;

    const FileOperationsRef inner_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Filter filter_;
    mutable std::array<int, fileOperationCount> counts_{};
    mutable int total_ = 0;
    mutable QList<Call> log_;
    mutable std::vector<Fault> faults_;
    mutable bool crashed_ = false;
    bool debris_ = false;
    mutable int heldCalls_ = 0;
    bool released_ = false;
    enum class SpaceOverride { none, figure, unreported };
    SpaceOverride spaceOverride_ = SpaceOverride::none;
    std::int64_t spaceFigure_ = 0;
};

} // namespace tolvex
