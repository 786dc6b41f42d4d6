#include "Velmarin/Shelf/LineStore.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Platform/FileSignature.h"

#include <QHash>
#include <QPromise>
#include <QtConcurrent/QtConcurrentMap>
#include <QThread>

namespace tolvex {

namespace {

QByteArray pathOf(const QUrl& url)
{
    return url.isLocalFile() ? encodeLocalPath(url.toLocalFile()) : QByteArray();
}

using VersionKey = std::pair<QUuid, QUuid>;

VersionKey keyOf(const MaterialRecord& record)
{
    return {record.id, record.activeVersionID};
}

} // namespace

struct MaterialLineStore::Memo {
    struct Proven {
        QUrl url;
        QByteArray path;
        FileSignature signature;
    };
    QHash<VersionKey, Proven> proven;
};

namespace {

QCoro::Task<void> locate(MaterialStore& store, std::int64_t settledNs, std::shared_ptr<MaterialLineStore::Memo> memo,
    QList<MaterialRecord> records, std::shared_ptr<QPromise<PresentationPayloads>> promise)
{
    struct Candidate {
        QUuid id;
        VersionKey key;
        MaterialLineStore::Memo::Proven proven;
    };
    QList<Candidate> remembered;
    QList<MaterialRecord> unproven;
    for (const MaterialRecord& record : records) {
        const auto found = memo->proven.constFind(keyOf(record));
        if (found != memo->proven.constEnd())
            remembered.append({record.id, found.key(), *found});
        else
            unproven.append(record);
    }

    // Futures are named before being awaited: GCC 12 destroys temporaries
    // of a co_await expression twice.
    // A thousand lstat calls are a few milliseconds on one thread: they are
    // spread over the pool in a few large pieces, not one call per job. The
    // jobs hold what they read themselves, so nothing of this frame is
    // touched from another thread.
    using Remembered = std::vector<std::pair<QByteArray, FileSignature>>;
    auto toCheck = std::make_shared<Remembered>();
    toCheck->reserve(std::size_t(remembered.size()));
    for (const Candidate& candidate : remembered)
        toCheck->emplace_back(candidate.proven.path, candidate.proven.signature);
    const qsizetype pieceCount =
        remembered.isEmpty() ? 0 : std::clamp<qsizetype>(remembered.size() / 128, 1, QThread::idealThreadCount());
    QList<std::pair<std::size_t, std::size_t>> pieces;
    for (qsizetype piece = 0; piece < pieceCount; ++piece)
        pieces.append({std::size_t(remembered.size() * piece / pieceCount),
            std::size_t(remembered.size() * (piece + 1) / pieceCount)});
    QFuture<std::vector<char>> checking = QtConcurrent::mapped(pieces,
        [toCheck = std::shared_ptr<const Remembered>(toCheck)](const std::pair<std::size_t, std::size_t>& piece) {
            std::vector<char> same;
            same.reserve(piece.second - piece.first);
            for (std::size_t i = piece.first; i < piece.second; ++i)
                same.push_back(FileSignature::of((*toCheck)[i].first) == (*toCheck)[i].second);
            return same;
        });
    if (!remembered.isEmpty())
        co_await checking;
    std::vector<char> unchanged;
    unchanged.reserve(std::size_t(remembered.size()));
    if (!remembered.isEmpty()) {
        for (const std::vector<char>& same : checking.results())
            unchanged.insert(unchanged.end(), same.begin(), same.end());
    }

    PresentationPayloads payloads;
    QHash<VersionKey, MaterialLineStore::Memo::Proven> kept;
    for (qsizetype i = 0; i < remembered.size(); ++i) {
        if (unchanged[std::size_t(i)]) {
            payloads.insert(remembered[i].id, PayloadLocation{remembered[i].proven.url, {}});
            kept.insert(remembered[i].key, remembered[i].proven);
        } else {
            unproven.append(*std::find_if(records.begin(), records.end(),
                [&](const MaterialRecord& record) { return record.id == remembered[i].id; }));
        }
    }

    if (!unproven.isEmpty()) {
        const std::int64_t asked = FileSignature::nowNs();
        PresentationPayloads answered;
        try {
            QCoro::Task<PresentationPayloads> asking = awaitResult(store.presentationPayloads(unproven));
            answered = co_await std::move(asking);
        } catch (...) {
            promise->setException(std::current_exception());
            promise->finish();
            co_return;
        }
        QList<std::pair<VersionKey, MaterialLineStore::Memo::Proven>> toRemember;
        for (const MaterialRecord& record : unproven) {
            const auto found = answered.constFind(record.id);
            if (found == answered.constEnd())
                continue;
            payloads.insert(record.id, *found);
            if (found->succeeded())
                toRemember.append({keyOf(record), {found->url, pathOf(found->url), {}}});
        }
        QFuture<std::optional<FileSignature>> signing = QtConcurrent::mapped(
            toRemember, [](const auto& entry) { return FileSignature::of(entry.second.path); });
        if (!toRemember.isEmpty())
            co_await signing;
        const QList<std::optional<FileSignature>> signatures = signing.results();
        for (qsizetype i = 0; i < toRemember.size(); ++i) {
            const std::optional<FileSignature>& signature = signatures[i];
            if (signature && signature->changedNs < asked - settledNs && signature->modifiedNs < asked - settledNs) {
                MaterialLineStore::Memo::Proven proven = toRemember[i].second;
                proven.signature = *signature;
                kept.insert(toRemember[i].first, proven);
            }
        }
    }
    // Only what this shelf shows stays remembered.
    memo->proven = std::move(kept);
    promise->addResult(payloads);
    promise->finish();
}

} // namespace

MaterialLineStore::MaterialLineStore(MaterialStore& store, std::chrono::nanoseconds settleWindow)
    : store_(store), settleWindow_(settleWindow), memo_(std::make_shared<Memo>())
{
}

MaterialLineStore::~MaterialLineStore() = default;

QFuture<WorkspaceSnapshot> MaterialLineStore::load()
{
    return store_.load();
}

QFuture<WorkspaceSnapshot> MaterialLineStore::apply(const MaterialCommand& command, std::int64_t visibleCapacity)
{
    return store_.apply(command, visibleCapacity);
}

QUrl MaterialLineStore::dataRoot() const
{
    return store_.root();
}

QFuture<PresentationPayloads> MaterialLineStore::presentationPayloads(const QList<MaterialRecord>& records)
{
    auto promise = std::make_shared<QPromise<PresentationPayloads>>();
    promise->start();
    QFuture<PresentationPayloads> future = promise->future();
    launchTask(locate(store_, settleWindow_.count(), memo_, records, promise), [promise](std::exception_ptr error) {
        if (!promise->future().isFinished()) {
            promise->setException(error);
            promise->finish();
        }
    });
    return future;
}

} // namespace tolvex
