#pragma once

#include "Support/EventLoopWait.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"

#include <QCoro/QCoroTask>
#include <QPromise>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

namespace tolvex::testing {

// A store whose every call stays pending until the test settles it, so that
// a test decides the order in which renders, covers and saves complete.
class ControlledLineStore final : public LineStore {
public:
    struct PayloadCall {
        QList<MaterialRecord> records;
        QPromise<PresentationPayloads> promise;
    };
    struct ApplyCall {
        MaterialCommand command;
        QPromise<WorkspaceSnapshot> promise;
    };

    QFuture<WorkspaceSnapshot> load() override
    {
        QPromise<WorkspaceSnapshot> promise;
        promise.start();
        promise.addResult(loadResult);
        promise.finish();
        return promise.future();
    }
    QFuture<WorkspaceSnapshot> apply(const MaterialCommand& command, std::int64_t) override
    {
        auto call = std::make_shared<ApplyCall>(ApplyCall{command, {}});
        call->promise.start();
        applies.push_back(call);
        return call->promise.future();
    }
    QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records) override
    {
        auto call = std::make_shared<PayloadCall>(PayloadCall{records, {}});
        call->promise.start();
        payloadCalls.push_back(call);
        return call->promise.future();
    }

    static void settle(PayloadCall& call, const PresentationPayloads& locations)
    {
        call.promise.addResult(locations);
        call.promise.finish();
    }
    static void succeed(ApplyCall& call, const WorkspaceSnapshot& snapshot)
    {
        call.promise.addResult(snapshot);
        call.promise.finish();
    }
    static void fail(ApplyCall& call, StoreError error)
    {
        call.promise.setException(error);
        call.promise.finish();
    }

    WorkspaceSnapshot loadResult;
    std::vector<std::shared_ptr<PayloadCall>> payloadCalls;
    std::vector<std::shared_ptr<ApplyCall>> applies;
};

// A thumbnail maker that counts its calls and makes a tiny picture.
struct CountingThumbnails {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);

    Line::ThumbnailMaker maker() const
    {
        return [calls = calls](const QUrl&) -> std::optional<QImage> {
            ++*calls;
            QImage image(4, 4, QImage::Format_ARGB32);
            image.fill(Qt::red);
            return image;
        };
    }
    int count() const { return calls->load(); }
};

// Records and payload files for a line under test.
class ShelfFixture {
public:
    // A hanging material of the ungrouped group with one version whose
    // payload is a small file in the fixture's folder.
    MaterialRecord& add(const QString& title, MaterialKind kind = MaterialKind::image)
    {
        MaterialRecord record;
        record.id = QUuid::createUuid();
        record.kind = kind;
        record.matterID = MatterGroup::ungroupedID();
        record.order = snapshot.materials.size();
        record.title = title;
        MaterialVersion version;
        version.id = QUuid::createUuid();
        version.sha256 = QUuid::createUuid().toString(QUuid::Id128).repeated(2);
        version.relativePath = record.id.toString(QUuid::WithoutBraces) + QStringLiteral(".bin");
        record.versions.append(version);
        record.originalVersionID = version.id;
        record.activeVersionID = version.id;
        snapshot.materials.append(record);
        return snapshot.materials.last();
    }
    // A new active version of a material.
    void newVersion(const QUuid& id)
    {
        MaterialRecord* record = snapshot.findMaterial(id);
        MaterialVersion version = record->versions.first();
        version.id = QUuid::createUuid();
        version.sha256 = QUuid::createUuid().toString(QUuid::Id128).repeated(2);
        record->versions.append(version);
        record->activeVersionID = version.id;
    }
    QUrl urlFor(const MaterialRecord& record) const
    {
        const MaterialVersion* version = record.findVersion(record.activeVersionID);
        return QUrl::fromLocalFile(folder.filePath(version ? version->id.toString(QUuid::WithoutBraces) : QString()));
    }
    // Every record of the call at its file.
    PresentationPayloads locations(const QList<MaterialRecord>& records) const
    {
        PresentationPayloads result;
        for (const MaterialRecord& record : records)
            result.insert(record.id, PayloadLocation{urlFor(record), {}});
        return result;
    }

    QTemporaryDir folder;
    WorkspaceSnapshot snapshot;
};

// Starts a render (or any task) and lets it run until it ends.
inline void finish(QCoro::Task<void> task)
{
    QCoro::waitFor(std::move(task));
}

// Lets every picture the line asked for arrive, including those it no
// longer wants (which it must then drop), and be published.
inline bool settlePictures(Line& line)
{
    for (int round = 0; round < 1000; ++round) {
        if (!waitUntil([&] { return line.picturesPending() == 0; }))
            return false;
        Line::waitForBackgroundWork();
        for (int turn = 0; turn < 3; ++turn) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        if (line.picturesPending() == 0)
            return true;
    }
    return false;
}

} // namespace tolvex::testing
