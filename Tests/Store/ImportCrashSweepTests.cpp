#include "CrashSweep.h"

#include "TolvexCore/Model/UuidText.h"

#include <QBuffer>
#include <QDirIterator>
#include <QImage>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

QByteArray pngBytes()
{
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(QColor(30, 120, 200));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

class ImportCrashSweepTest : public StoreTestCase {
protected:
    void SetUp() override
    {
        DataRootBuilder& root = builder();
        const QUuid edited = root.addMaterial("first material").id;
        root.addVersion(edited, "first material, edited");
        root.addMaterial("second material", MaterialStatus::takenDown);
        root.writeState(4);
        old = root.snapshot();
        old.generation = 4;
    }

    // What every crash point must leave: a workspace that loads with every
    // old material intact, and the new one either absent (with no new payload
    // under "Materials") or present with exactly the imported bytes.
    void sweep(const ImportRequest& request, const QByteArray& payload, const QString& sourceFile = {})
    {
        QByteArray sourceBytes;
        FileInfo sourceInfo;
        if (!sourceFile.isEmpty()) {
            sourceBytes = bytesOf(sourceFile);
            sourceInfo = SystemFileOperations().inspect(QUrl::fromLocalFile(sourceFile));
        }
        QTemporaryDir work;
        CrashSweep sweep;
        sweep.preparedRoot = rootPath;
        sweep.operation = [&](MaterialStore& store) {
            const ImportResult result = waitForResult(store.importMaterial(request, MatterGroup::ungroupedID(),
                unlimitedCapacity, false, std::nullopt, DuplicateImportPolicy::keepExisting));
            EXPECT_EQ(result.disposition.kind(), ImportDisposition::Case::hanging);
        };
        int absent = 0;
        int present = 0;
        sweep.check = [&](const QString& copy, const SweepStep&) {
            MaterialStore store(QUrl::fromLocalFile(copy), SystemFileOperations::shared(), roomyBudget());
            WorkspaceSnapshot loaded;
            ASSERT_NO_THROW(loaded = waitForResult(store.load()));
            ASSERT_GE(loaded.materials.size(), old.materials.size());
            ASSERT_LE(loaded.materials.size(), old.materials.size() + 1);
            QStringList oldPayloads;
            for (qsizetype i = 0; i < old.materials.size(); ++i) {
                EXPECT_EQ(loaded.materials[i], old.materials[i]) << "an old material changed";
                for (const MaterialVersion& version : old.materials[i].versions) {
                    oldPayloads.append(version.relativePath);
                    EXPECT_EQ(DataRootBuilder::digest(bytesOf(copy + u'/' + version.relativePath)), version.sha256);
                }
            }
            QStringList payloads;
            QDirIterator files(copy + "/Materials", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (files.hasNext())
                payloads.append(files.next().mid(copy.size() + 1));
            if (loaded.materials.size() == old.materials.size()) {
                ++absent;
                payloads.sort();
                oldPayloads.sort();
                EXPECT_EQ(payloads, oldPayloads) << "nothing new may lie in Materials without its material";
            } else {
                ++present;
                const MaterialRecord& added = loaded.materials.last();
                EXPECT_TRUE(added.status == MaterialStatus::hanging || added.status == MaterialStatus::needsReview);
                const MaterialVersion version = *added.activeVersion();
                const QByteArray stored = bytesOf(copy + u'/' + version.relativePath);
                EXPECT_EQ(stored.size(), version.byteCount);
                EXPECT_EQ(DataRootBuilder::digest(stored), version.sha256);
                EXPECT_EQ(stored, payload);
                EXPECT_EQ(payloads.size(), oldPayloads.size() + 1);
            }
            if (!sourceFile.isEmpty()) {
                EXPECT_EQ(bytesOf(sourceFile), sourceBytes) << "the source file was changed";
                EXPECT_EQ(SystemFileOperations().inspect(QUrl::fromLocalFile(sourceFile)), sourceInfo);
            }
            // And the workspace goes on: it saves.
            EXPECT_NO_THROW(persist(store, loaded));
        };
        const int calls = sweep.run(work.path());
        RecordProperty("calls", calls);
        EXPECT_GT(absent, 0);
        EXPECT_GT(present, 0);
        EXPECT_EQ(absent + present, 3 * calls);
    }

    static QByteArray bytesOf(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    WorkspaceSnapshot old;
};

} // namespace

TEST_F(ImportCrashSweepTest, TextImport)
{
    sweep(ImportRequest::text("swept text", sourceOf(ImportOrigin::clipboard)), "swept text");
}

TEST_F(ImportCrashSweepTest, ImageDataImport)
{
    const QByteArray png = pngBytes();
    sweep(ImportRequest::imageData(png, sourceOf(ImportOrigin::clipboard)), png);
}

TEST_F(ImportCrashSweepTest, FileImport)
{
    const QString file = writeOutside("swept.pdf", "%PDF-1.4 swept document bytes");
    sweep(ImportRequest::file(QUrl::fromLocalFile(file), ImportOrigin::fileSelection), "%PDF-1.4 swept document bytes", file);
}
