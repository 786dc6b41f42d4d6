#include "StoreTesting.h"
#include "Support/ForwardingFileOperations.h"

#include "TolvexCore/Model/UuidText.h"

#include <QBuffer>
#include <QImage>

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class ImportTest : public StoreTestCase {
protected:
    QStringList stagingFiles() const { return QDir(path("Transactions")).entryList({"*.stage"}, QDir::Files); }
    QStringList journals() const { return QDir(path("Transactions")).entryList({"*.json"}, QDir::Files); }
    QStringList materialFolders() const { return QDir(path("Materials")).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }
};

// Reports a huge size for the items whose name ends with `marker`.
class InflatingFileOperations final : public tolvex::testing::ForwardingFileOperations {
public:
    explicit InflatingFileOperations(QString marker) : marker_(std::move(marker)) {}
    FileInfo inspect(const QUrl& url) const override
    {
        FileInfo info = inner->inspect(url);
        if (url.toLocalFile().endsWith(marker_))
            info.byteCount = std::numeric_limits<std::int64_t>::max();
        return info;
    }

private:
    QString marker_;
};

} // namespace

TEST_F(ImportTest, NewTextHangsThroughAJournalledCommit)
{
    builder().addMaterial("already here");
    builder().writeState(3);
    const QString text = QString(120, u'a') + QString(80, u'b');
    SourceRecord source = sourceOf(ImportOrigin::clipboard);
    source.webURL = QUrl(QStringLiteral("https://example.com/page"));

    auto store = makeStore();
    const ImportResult result = waitForResult(store->importMaterial(ImportRequest::text(text, source),
        MatterGroup::ungroupedID(), unlimitedCapacity, true, std::nullopt, DuplicateImportPolicy::keepExisting));
    ASSERT_EQ(result.disposition.kind(), ImportDisposition::Case::hanging);
    const QUuid id = result.disposition.id();
    EXPECT_EQ(result.snapshot.generation, 4u);
    EXPECT_EQ(stateOnDisk(), result.snapshot);
    ASSERT_EQ(result.snapshot.materials.size(), 2);
    const MaterialRecord& material = result.snapshot.materials.last();
    EXPECT_EQ(material.id, id);
    EXPECT_EQ(material.kind, MaterialKind::text);
    EXPECT_EQ(material.status, MaterialStatus::hanging);
    EXPECT_EQ(material.order, 1) << "one above the group's largest order";
    EXPECT_EQ(material.title, QString(80, u'a'));
    EXPECT_EQ(material.source, source);
    ASSERT_EQ(material.versions.size(), 1);
    const MaterialVersion& version = material.versions[0];
    EXPECT_EQ(material.originalVersionID, version.id);
    EXPECT_EQ(material.activeVersionID, version.id);
    EXPECT_EQ(version.kind, VersionKind::original);
    EXPECT_EQ(version.relativePath, "Materials/" + uuidText(id) + "/" + uuidText(version.id) + ".txt");
    EXPECT_EQ(bytes(version.relativePath), text.toUtf8());
    EXPECT_EQ(version.byteCount, text.toUtf8().size());
    EXPECT_EQ(version.sha256, DataRootBuilder::digest(text.toUtf8()));

    // The journal stays, committed, with the record as the commit built it.
    EXPECT_TRUE(stagingFiles().isEmpty());
    ASSERT_EQ(journals().size(), 1);
    const StoreJournal journal = Json::decode<StoreJournal>(bytes("Transactions/" + journals()[0]));
    EXPECT_EQ(journals()[0], uuidText(journal.id) + ".json");
    EXPECT_EQ(journal.phase, StoreJournal::Phase::contentCommitted);
    EXPECT_FALSE(journal.baseVersionID.has_value());
    EXPECT_EQ(journal.record.id, id);
    EXPECT_EQ(journal.record.order, 0);
    EXPECT_EQ(journal.record.versions, material.versions);
    EXPECT_NE(journal.id, id);
    EXPECT_NE(journal.id, version.id);
}

TEST_F(ImportTest, AFileKeepsItsPathAndNameAndItsSizeIsCapped)
{
    StorageBudget budget = roomyBudget();
    budget.maxFileBytes = 16;
    auto store = makeStore(SystemFileOperations::shared(), budget);
    QDir().mkpath(temporary.path() + "/notes");
    const QString exact = writeOutside("notes/../Report.TXT", "sixteen bytes..!");
    const ImportResult result = importFile(*store, temporary.path() + "/notes/../Report.TXT");
    ASSERT_EQ(result.disposition.kind(), ImportDisposition::Case::hanging);
    const MaterialRecord& material = result.snapshot.materials.last();
    EXPECT_EQ(material.title, "Report.TXT");
    EXPECT_EQ(material.kind, MaterialKind::text);
    EXPECT_TRUE(material.versions[0].relativePath.endsWith(".TXT"));
    EXPECT_EQ(material.source.filePath, QDir::cleanPath(exact));
    EXPECT_EQ(material.source.origin, ImportOrigin::fileSelection);
    EXPECT_FALSE(material.source.fileBookmark || material.source.webURL || material.source.manualTitle || material.source.locator);

    const QString over = writeOutside("over.bin", QByteArray(17, 'x'));
    EXPECT_TRUE(throwsStoreError([&] { importFile(*store, over); }, StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QString(17, u'x')); }, StoreError::Code::budgetExceeded));
    EXPECT_TRUE(throwsStoreError([&] { importFile(*store, temporary.path()); }, StoreError::Code::invalidSource));
    const QString link = temporary.path() + "/link.txt";
    std::filesystem::create_symlink(exact.toStdString(), link.toStdString());
    EXPECT_TRUE(throwsStoreError([&] { importFile(*store, link); }, StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsFileError([&] { importFile(*store, temporary.path() + "/missing"); },
        std::errc::no_such_file_or_directory));
    EXPECT_TRUE(stagingFiles().isEmpty()) << "refused before anything was staged";

    // An empty text passes the facts and is refused by staging, leaving nothing.
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QString()); }, StoreError::Code::invalidSource));
    EXPECT_TRUE(stagingFiles().isEmpty());
    EXPECT_EQ(journals().size(), 1);
}

TEST_F(ImportTest, TheBudgetCountsPayloadsDraftsExportsAndStagingFiles)
{
    StorageBudget budget{1000, 300, 0};
    auto store = makeStore(SystemFileOperations::shared(), budget);
    load(*store);
    builder().writeFile("Transactions/" + uuidText(QUuid::createUuid()) + ".stage", QByteArray(100, 's'));
    builder().writeFile("Transactions/notes.txt", QByteArray(5000, 'n'));

    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QString(201, u'a')); }, StoreError::Code::budgetExceeded));
    ASSERT_EQ(importText(*store, QString(200, u'b')).disposition.kind(), ImportDisposition::Case::hanging)
        << "staging file 100 + 200 = 300 fits; journals and other files do not count";
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QStringLiteral("c")); }, StoreError::Code::budgetExceeded));

    // Drafts and exports count too.
    builder().writeFile("Drafts/" + uuidText(QUuid::createUuid()) + "/working.txt", "");
    StorageBudget wider{1000, 400, 0};
    store.reset();
    auto wide = makeStore(SystemFileOperations::shared(), wider);
    builder().writeFile("Exports/copy.txt", QByteArray(99, 'e'));
    EXPECT_EQ(importText(*wide, QStringLiteral("d")).disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_TRUE(throwsStoreError([&] { importText(*wide, QStringLiteral("e")); }, StoreError::Code::budgetExceeded));
}

TEST_F(ImportTest, TheBudgetKeepsFreeSpaceAndRefusesWhatItCannotCount)
{
    auto files = faultInjecting();
    StorageBudget keep{1000, 1000000, 1000};
    auto store = makeStore(files, keep);
    load(*store);
    files->setAvailableBytes(1005);
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QStringLiteral("six b.")); }, StoreError::Code::budgetExceeded));
    EXPECT_EQ(importText(*store, QStringLiteral("five!")).disposition.kind(), ImportDisposition::Case::hanging);
    files->setAvailableBytesUnreported();
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QStringLiteral("x")); }, StoreError::Code::unavailableSpace));
    files->clearAvailableBytesOverride();

    // Sums that leave the 64-bit range.
    store.reset();
    auto negative = makeStore(SystemFileOperations::shared(), StorageBudget{1000, 1000000, -1});
    EXPECT_TRUE(throwsStoreError([&] { importText(*negative, QStringLiteral("y")); }, StoreError::Code::budgetExceeded));
    negative.reset();
    auto huge = makeStore(SystemFileOperations::shared(),
        StorageBudget{1000, 1000000, std::numeric_limits<std::int64_t>::max() - 3});
    EXPECT_TRUE(throwsStoreError([&] { importText(*huge, QStringLiteral("four")); }, StoreError::Code::budgetExceeded));

    builder().writeFile("Exports/inflated.bin", "x");
    builder().writeFile("Exports/second.bin", "y");
    huge.reset();
    auto inflated = makeStore(std::make_shared<InflatingFileOperations>("inflated.bin"));
    EXPECT_TRUE(throwsStoreError([&] { importText(*inflated, QStringLiteral("z")); }, StoreError::Code::budgetExceeded));
    QFile::remove(path("Exports/inflated.bin"));

    builder().writeFile("Transactions/" + uuidText(QUuid::createUuid()) + "-inflated.stage", "1");
    builder().writeFile("Transactions/" + uuidText(QUuid::createUuid()) + "-other.stage", "2");
    inflated.reset();
    auto inflatedStage = makeStore(std::make_shared<InflatingFileOperations>("-inflated.stage"));
    EXPECT_TRUE(throwsStoreError([&] { importText(*inflatedStage, QStringLiteral("w")); }, StoreError::Code::invalidPath));
    for (const QString& name : stagingFiles())
        QFile::remove(path("Transactions/" + name));
    inflatedStage.reset();
    store = makeStore(files, keep);

    // A link among the stored files, and a staging entry that is no file.
    std::filesystem::create_symlink(path("Exports/second.bin").toStdString(), path("Exports/linked.bin").toStdString());
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QStringLiteral("v")); }, StoreError::Code::invalidPath));
    QFile::remove(path("Exports/linked.bin"));
    QDir().mkpath(path("Transactions/folder.stage"));
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, QStringLiteral("u")); }, StoreError::Code::invalidPath));
}

TEST_F(ImportTest, DuplicatesAreFoundByExactSourceOrBroadlyByBytes)
{
    const MatterGroup other = builder().addMatter("other");
    builder().writeState();
    auto store = makeStore();
    const QUuid group = MatterGroup::ungroupedID();

    // Clipboard de-duplication: the same clipboard text again.
    const ImportResult first = importText(*store, "copied twice", ImportOrigin::clipboard, true);
    const ImportResult second = importText(*store, "copied twice", ImportOrigin::clipboard, true);
    EXPECT_EQ(second.disposition, ImportDisposition::duplicate(first.disposition.id()));
    EXPECT_EQ(second.snapshot.generation, first.snapshot.generation) << "nothing saved";

    // A drop with the rehang policy matches any image or text of the group by bytes.
    EXPECT_EQ(importText(*store, "copied twice", ImportOrigin::drop, false, DuplicateImportPolicy::rehangTakenDown).disposition,
        ImportDisposition::duplicate(first.disposition.id()));
    // Without broad matching the drop's source differs: a new material.
    const ImportResult keptDrop = importText(*store, "copied twice", ImportOrigin::drop);
    EXPECT_EQ(keptDrop.disposition.kind(), ImportDisposition::Case::hanging);
    // Another group is never a duplicate.
    const ImportResult elsewhere = importText(*store, "copied twice", ImportOrigin::clipboard, true,
        DuplicateImportPolicy::keepExisting, other.id);
    EXPECT_EQ(elsewhere.disposition.kind(), ImportDisposition::Case::hanging);

    // A published note matches only an equal source.
    const ImportResult note = importText(*store, "note words", ImportOrigin::note);
    const ImportResult pasted = importText(*store, "note words", ImportOrigin::clipboard, true, DuplicateImportPolicy::rehangTakenDown);
    EXPECT_EQ(pasted.disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_NE(pasted.disposition.id(), note.disposition.id());

    // Taken down: rehung under its old id at the end with the next order, or kept down.
    apply(*store, MaterialCommand::takeDown(first.disposition.id()));
    const ImportResult kept = importText(*store, "copied twice", ImportOrigin::clipboard, true);
    EXPECT_EQ(kept.disposition, ImportDisposition::duplicate(first.disposition.id()));
    EXPECT_EQ(kept.snapshot.findMaterial(first.disposition.id())->status, MaterialStatus::takenDown);
    const std::int64_t largest = [&] {
        std::int64_t order = -1;
        for (const MaterialRecord& m : kept.snapshot.materials)
            if (m.matterID == group && m.id != first.disposition.id())
                order = std::max(order, m.order);
        return order;
    }();
    const ImportResult rehung = importText(*store, "copied twice", ImportOrigin::clipboard, true, DuplicateImportPolicy::rehangTakenDown);
    EXPECT_EQ(rehung.disposition, ImportDisposition::hanging(first.disposition.id()));
    EXPECT_EQ(rehung.snapshot.generation, kept.snapshot.generation + 1);
    EXPECT_EQ(rehung.snapshot.materials.last().id, first.disposition.id());
    EXPECT_EQ(rehung.snapshot.materials.last().status, MaterialStatus::hanging);
    EXPECT_EQ(rehung.snapshot.materials.last().order, largest + 1);
    EXPECT_EQ(rehung.snapshot.materials.last().versions, first.snapshot.materials.last().versions);

    // A full shelf: a taken-down duplicate cannot be rehung, any other duplicate is still reported.
    // (The first matching record in list order decides: the drop's text now comes first.)
    apply(*store, MaterialCommand::takeDown(keptDrop.disposition.id()));
    EXPECT_EQ(importText(*store, "copied twice", ImportOrigin::clipboard, true, DuplicateImportPolicy::rehangTakenDown, group, 0).disposition,
        ImportDisposition::shelfFull());
    EXPECT_EQ(importText(*store, "note words", ImportOrigin::note, false, DuplicateImportPolicy::keepExisting, group, 0).disposition,
        ImportDisposition::duplicate(note.disposition.id()));
    EXPECT_EQ(importText(*store, "brand new", ImportOrigin::clipboard, true, DuplicateImportPolicy::keepExisting, group, 0).disposition,
        ImportDisposition::shelfFull());
    EXPECT_EQ(importText(*store, "brand new", ImportOrigin::clipboard, true, DuplicateImportPolicy::keepExisting, QUuid::createUuid()).disposition,
        ImportDisposition::shelfFull()) << "a group that does not exist";
}

TEST_F(ImportTest, ArchivedTrashedAndBrokenDuplicates)
{
    MaterialRecord& archived = builder().addMaterial("archived text", MaterialStatus::archived);
    const QUuid archivedID = archived.id;
    builder().addMaterial("trashed text", MaterialStatus::trashed);
    MaterialRecord& broken = builder().addMaterial("broken text", MaterialStatus::takenDown);
    const QUuid brokenID = broken.id;
    builder().writeState(2);
    builder().alterPayload(broken.versions[0]);

    auto store = makeStore();
    const ImportResult stays = importText(*store, "archived text", ImportOrigin::clipboard, true, DuplicateImportPolicy::rehangTakenDown);
    EXPECT_EQ(stays.disposition, ImportDisposition::duplicate(archivedID));
    EXPECT_EQ(stays.snapshot.findMaterial(archivedID)->status, MaterialStatus::archived);

    const ImportResult again = importText(*store, "trashed text", ImportOrigin::clipboard, true);
    EXPECT_EQ(again.disposition.kind(), ImportDisposition::Case::hanging) << "a trashed duplicate is no duplicate";

    EXPECT_TRUE(throwsStoreError(
        [&] { importText(*store, "broken text", ImportOrigin::clipboard, true, DuplicateImportPolicy::rehangTakenDown); },
        StoreError::Code::recoveryRequired));
    EXPECT_EQ(load(*store).findMaterial(brokenID)->status, MaterialStatus::takenDown);
    EXPECT_EQ(load(*store).generation, again.snapshot.generation);
}

TEST_F(ImportTest, AScreenshotIsADuplicateOnlyWithTheSamePathAndBytes)
{
    auto store = makeStore();
    const QString shot = writeOutside("shot.txt", "pixels");
    const ImportResult first = importFile(*store, shot, ImportOrigin::screenshot);
    EXPECT_EQ(importFile(*store, shot, ImportOrigin::screenshot).disposition, ImportDisposition::duplicate(first.disposition.id()));
    const QString copy = writeOutside("copy.txt", "pixels");
    EXPECT_EQ(importFile(*store, copy, ImportOrigin::screenshot).disposition.kind(), ImportDisposition::Case::hanging);
    writeOutside("shot.txt", "PIXELS");
    EXPECT_EQ(importFile(*store, shot, ImportOrigin::screenshot).disposition.kind(), ImportDisposition::Case::hanging);
    // With broad matching, a file path must be equal: another path is no candidate.
    writeOutside("shot.txt", "pixels");
    const ImportResult dropped = importFile(*store, shot, ImportOrigin::drop, DuplicateImportPolicy::rehangTakenDown);
    EXPECT_EQ(dropped.disposition, ImportDisposition::duplicate(first.disposition.id()));
    const QString third = writeOutside("third.txt", "pixels");
    EXPECT_EQ(importFile(*store, third, ImportOrigin::drop, DuplicateImportPolicy::rehangTakenDown).disposition.kind(),
        ImportDisposition::Case::hanging);
}

TEST_F(ImportTest, AClipboardFileMustStillMatchItsFingerprint)
{
    auto store = makeStore();
    const QString file = writeOutside("clip.txt", "clipboard file");
    const ClipboardFileFingerprint print = waitForResult(store->clipboardFileFingerprint(QUrl::fromLocalFile(file)));

    EXPECT_TRUE(throwsStoreError([&] { importFile(*store, file, ImportOrigin::screenshot, DuplicateImportPolicy::keepExisting, print); },
        StoreError::Code::sourceChanged)) << "only clipboard, drop and file-selection files carry a fingerprint";
    ClipboardFileFingerprint otherDate = print;
    otherDate.info.modificationDate = otherDate.info.modificationDate.addingSeconds(-1);
    EXPECT_TRUE(throwsStoreError([&] { importFile(*store, file, ImportOrigin::clipboard, DuplicateImportPolicy::keepExisting, otherDate); },
        StoreError::Code::sourceChanged));
    writeOutside("clip.txt", "Clipboard file");
    EXPECT_TRUE(throwsStoreError([&] { importFile(*store, file, ImportOrigin::clipboard, DuplicateImportPolicy::keepExisting, print); },
        StoreError::Code::sourceChanged));
    EXPECT_TRUE(stagingFiles().isEmpty());
    EXPECT_TRUE(journals().isEmpty());

    const ClipboardFileFingerprint fresh = waitForResult(store->clipboardFileFingerprint(QUrl::fromLocalFile(file)));
    EXPECT_EQ(importFile(*store, file, ImportOrigin::clipboard, DuplicateImportPolicy::keepExisting, fresh).disposition.kind(),
        ImportDisposition::Case::hanging);
}

TEST_F(ImportTest, ASourceChangedWhileStagingCommitsNothing)
{
    const QString file = writeOutside("moving.txt", "before the copy");
    auto files = faultInjecting();
    auto store = makeStore(files);
    load(*store);
    const QByteArray stateBefore = bytes("state.json");
    files->reset();
    files->holdCall(1, FileOperation::copy); // staging's copy of the source
    QFuture<ImportResult> pending = store->importMaterial(ImportRequest::file(QUrl::fromLocalFile(file), ImportOrigin::drop),
        MatterGroup::ungroupedID(), unlimitedCapacity, false, std::nullopt, DuplicateImportPolicy::keepExisting);
    ASSERT_TRUE(files->waitUntilHeld());
    writeOutside("moving.txt", "after: changed!");
    files->release();
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(pending); }, StoreError::Code::sourceChanged));
    EXPECT_TRUE(materialFolders().isEmpty());
    EXPECT_TRUE(journals().isEmpty());
    EXPECT_EQ(bytes("state.json"), stateBefore);
    EXPECT_TRUE(load(*store).materials.isEmpty());
}

TEST_F(ImportTest, CancellingAfterStagingLeavesOnlyTheStagingFile)
{
    auto files = faultInjecting();
    auto store = makeStore(files);
    load(*store);
    files->reset();
    files->setFilter([](FileOperation operation, const QUrl& url) {
        return operation == FileOperation::writeAtomic && url.toLocalFile().endsWith(".stage");
    });
    files->holdCall(1);
    const CancellationToken token = CancellationToken::make();
    QFuture<ImportResult> pending = store->importMaterial(ImportRequest::text("cancelled", sourceOf(ImportOrigin::clipboard)),
        MatterGroup::ungroupedID(), unlimitedCapacity, false, std::nullopt, DuplicateImportPolicy::keepExisting, token);
    ASSERT_TRUE(files->waitUntilHeld());
    token.cancel();
    files->release();
    EXPECT_THROW(waitForResult(pending), CancellationError);
    EXPECT_EQ(stagingFiles().size(), 1);
    EXPECT_TRUE(journals().isEmpty());
    EXPECT_TRUE(load(*store).materials.isEmpty()) << "and the store is free again";

    // Cancelled before staging: nothing at all.
    EXPECT_THROW(waitForResult(store->importMaterial(ImportRequest::text("never", sourceOf(ImportOrigin::clipboard)),
                     MatterGroup::ungroupedID(), unlimitedCapacity, false, std::nullopt,
                     DuplicateImportPolicy::keepExisting, token)),
        CancellationError);
    EXPECT_EQ(stagingFiles().size(), 1);
}

TEST_F(ImportTest, WhileStagingOtherCallsAreRefusedAndPayloadsStillAnswer)
{
    const MaterialRecord shown = builder().addMaterial("shown");
    builder().writeState();
    const QString clip = writeOutside("clip.txt", "x");
    auto files = faultInjecting();
    auto store = makeStore(files);
    load(*store);
    files->reset();
    files->setFilter([](FileOperation operation, const QUrl& url) {
        return operation == FileOperation::writeAtomic && url.toLocalFile().endsWith(".stage");
    });
    files->holdCall(1);
    QFuture<ImportResult> pending = importTextLater(*store, "held while staging");
    ASSERT_TRUE(files->waitUntilHeld());

    EXPECT_TRUE(throwsStoreError([&] { load(*store); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { apply(*store, MaterialCommand::setPrivacyHidden(true)); },
        StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { importText(*store, "second"); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->createNoteDraft(std::nullopt)); },
        StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->clipboardFileFingerprint(QUrl::fromLocalFile(clip))); },
        StoreError::Code::operationInProgress));
    EXPECT_EQ(waitForResult(store->payloadURL(shown.id)), builder().url(shown.versions[0].relativePath));
    EXPECT_EQ(waitForResult(store->presentationPayloads({shown})).size(), 1);
    EXPECT_NO_THROW(waitForResult(store->clipboardPreferences()));
    EXPECT_NO_THROW(waitForResult(store->setClipboardPreferences(ClipboardPreference(true, true, false, true, true))));

    files->release();
    const ImportResult result = waitForResult(pending);
    EXPECT_EQ(result.disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_EQ(load(*store), result.snapshot);
    EXPECT_FALSE(apply(*store, MaterialCommand::setPrivacyHidden(true)).materials.isEmpty());
}

TEST_F(ImportTest, FailuresFromTheMoveOnDropTheLoadedWorkspace)
{
    builder().addMaterial("old");
    builder().writeState(1);
    auto files = faultInjecting();
    auto store = makeStore(files);
    load(*store);

    // The journal cannot be written: the workspace stays loaded.
    files->reset();
    files->failCall(2, EIO, FileOperation::writeAtomic);
    EXPECT_TRUE(throwsFileError([&] { importText(*store, "no journal"); }, std::errc::io_error));
    files->reset();
    EXPECT_EQ(load(*store).materials.size(), 1);
    EXPECT_EQ(files->totalCallCount(), 0) << "answered from memory";

    // The move fails: dropped; the next load reads the disk, and the journal
    // ("contentReady") is skipped because its payload never arrived.
    files->reset();
    files->failCall(1, EIO, FileOperation::move);
    EXPECT_TRUE(throwsFileError([&] { importText(*store, "not moved"); }, std::errc::io_error));
    files->reset();
    EXPECT_EQ(load(*store).materials.size(), 1);
    EXPECT_GT(files->callCount(FileOperation::read), 0) << "read from disk again";

    // The journal rewrite fails after the move: the replay takes the payload in.
    files->reset();
    files->failCall(3, EIO, FileOperation::writeAtomic);
    EXPECT_TRUE(throwsFileError([&] { importText(*store, "moved, journal not rewritten"); }, std::errc::io_error));
    WorkspaceSnapshot replayed = load(*store);
    ASSERT_EQ(replayed.materials.size(), 2);
    EXPECT_EQ(replayed.materials[1].status, MaterialStatus::needsReview);
    EXPECT_EQ(replayed.materials[1].title, "moved, journal not rewritten");

    // The save fails: the same.
    files->reset();
    files->failCall(4, EIO, FileOperation::writeAtomic); // staging, journal, rewrite, the new state
    EXPECT_TRUE(throwsFileError([&] { importText(*store, "saved nowhere"); }, std::errc::io_error));
    replayed = load(*store);
    ASSERT_EQ(replayed.materials.size(), 3);
    QSet<QString> needingReview;
    for (const MaterialRecord& material : replayed.materials) {
        if (material.status == MaterialStatus::needsReview)
            needingReview.insert(material.title);
    }
    EXPECT_EQ(needingReview, (QSet<QString>{"moved, journal not rewritten", "saved nowhere"}));
    EXPECT_EQ(replayed.generation, 1u) << "the repair waits for the next save";
    EXPECT_EQ(persist(*store, replayed).generation, 2u);
}
