// Encoding and decoding of a workspace of 10,000 materials, each with two
// versions and a full source: the work every save and every load does.
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <benchmark/benchmark.h>

using namespace tolvex;

namespace {

WorkspaceSnapshot largeSnapshot(int count)
{
    WorkspaceSnapshot snapshot;
    snapshot.generation = 123456;
    snapshot.materials.reserve(count);
    for (int i = 0; i < count; ++i) {
        MaterialRecord record;
        record.id = QUuid::createUuid();
        record.kind = MaterialKind::image;
        record.matterID = MatterGroup::ungroupedID();
        record.status = i % 3 ? MaterialStatus::hanging : MaterialStatus::takenDown;
        record.order = i;
        record.title = QStringLiteral("Screenshot 2026-12-07 at 10.%1.%2 — Übersicht").arg(i % 60).arg(i % 17);
        record.createdAt = Date::now();
        record.source.origin = ImportOrigin::screenshot;
        record.source.filePath = QStringLiteral("/home/user/Pictures/Screenshots/Screenshot %1.png").arg(i);
        record.source.fileBookmark = QByteArray(48, 'b');
        record.source.webURL = QUrl(QStringLiteral("https://example.com/articles/%1?ref=shelf").arg(i));
        record.source.manualTitle = QStringLiteral("Reference %1").arg(i);
        record.source.locator = PageLocator::pdfIndex(i % 40);
        record.source.isManuallyRegistered = (i % 2) == 0;
        for (int v = 0; v < 2; ++v) {
            MaterialVersion version;
            version.id = QUuid::createUuid();
            version.relativePath = QStringLiteral("Materials/") + uuidText(record.id) + u'/' + uuidText(version.id) + QStringLiteral(".png");
            version.sha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
            version.byteCount = 1048576 + i;
            version.kind = v == 0 ? VersionKind::original : VersionKind::markup;
            version.createdAt = Date::now();
            record.versions.append(version);
        }
        record.originalVersionID = record.versions[0].id;
        record.activeVersionID = record.versions[1].id;
        snapshot.materials.append(record);
    }
    return snapshot;
}

const WorkspaceSnapshot& snapshot10k()
{
    static const WorkspaceSnapshot snapshot = largeSnapshot(10000);
    return snapshot;
}

void BM_EncodeSnapshot10k(benchmark::State& state)
{
    const WorkspaceSnapshot& snapshot = snapshot10k();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        QByteArray encoded = Json::encode(snapshot);
        bytes = encoded.size();
        benchmark::DoNotOptimize(encoded.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["document_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_DecodeSnapshot10k(benchmark::State& state)
{
    const QByteArray encoded = Json::encode(snapshot10k());
    for (auto _ : state) {
        WorkspaceSnapshot decoded = Json::decode<WorkspaceSnapshot>(encoded);
        benchmark::DoNotOptimize(decoded.materials.size());
    }
    state.SetBytesProcessed(state.iterations() * encoded.size());
    state.counters["document_MB"] = static_cast<double>(encoded.size()) / 1e6;
}

} // namespace

BENCHMARK(BM_EncodeSnapshot10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSnapshot10k)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
