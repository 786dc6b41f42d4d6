#pragma once

// Shared by the store's benchmarks: a data root of many small materials
// written straight to disk, and a median timer.
#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace tolvex::benchmarks {

inline double medianMilliseconds(int runs, const std::function<void()>& work)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline void writeWhole(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// `count` text materials with one small payload each, and "state.json".
// Every fourth material is taken down, or only the first `takenDown` when given.
inline WorkspaceSnapshot makeDataRoot(const QString& root, int count, int takenDown = -1)
{
    WorkspaceSnapshot snapshot;
    snapshot.generation = 42;
    snapshot.materials.reserve(count);
    for (const char* folder : {"Materials", "Drafts", "Transactions", "Exports"})
        QDir().mkpath(root + u'/' + QLatin1StringView(folder));
    for (int i = 0; i < count; ++i) {
        MaterialRecord record;
        record.id = QUuid::createUuid();
        record.kind = MaterialKind::text;
        record.matterID = MatterGroup::ungroupedID();
        const bool down = takenDown < 0 ? i % 4 == 0 : i < takenDown;
        record.status = down ? MaterialStatus::takenDown : MaterialStatus::hanging;
        record.order = i;
        record.title = QStringLiteral("Clipboard text %1 — notes on the shelf").arg(i);
        record.createdAt = Date::now();
        record.source.origin = ImportOrigin::clipboard;
        record.source.filePath = QStringLiteral("/home/user/Documents/source-%1.txt").arg(i);
        record.source.isManuallyRegistered = false;

        const QByteArray payload = QStringLiteral("payload number %1\n").arg(i).toUtf8();
        MaterialVersion version;
        version.id = QUuid::createUuid();
        version.relativePath = QStringLiteral("Materials/") + uuidText(record.id) + u'/' + uuidText(version.id) + QStringLiteral(".txt");
        version.sha256 = ContentStore::digest(payload);
        version.byteCount = payload.size();
        version.kind = VersionKind::original;
        version.createdAt = record.createdAt;
        QDir().mkpath(root + QStringLiteral("/Materials/") + uuidText(record.id));
        writeWhole(root + u'/' + version.relativePath, payload);
        record.versions = {version};
        record.originalVersionID = version.id;
        record.activeVersionID = version.id;
        snapshot.materials.append(record);
    }
    writeWhole(root + QStringLiteral("/state.json"), Json::encode(snapshot));
    return snapshot;
}

} // namespace tolvex::benchmarks
