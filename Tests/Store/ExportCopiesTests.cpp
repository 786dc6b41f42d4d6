#include "EditTesting.h"

#include "TolvexCore/Store/Internal/DestinationGuard.h"

#include "Support/ForwardingFileOperations.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <utility>

#include <sys/stat.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class ExportCopiesTest : public EditTestCase {
protected:
    QUrl exportTo(MaterialStore& store, const QUuid& id, const QString& destination,
        std::optional<QUuid> version = std::nullopt)
    {
        return waitForResult(store.exportCopy(id, version, QUrl::fromLocalFile(destination)));
    }
    static QByteArray read(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

// Runs `swap` once, just before the store opens the payload it will copy:
// after every check of the destination, as late as a racing process could.
class SwappingBeforeCopy final : public tolvex::testing::ForwardingFileOperations {
public:
    OpenFile open(const QUrl& url) const override
    {
        if (swap)
            std::exchange(swap, nullptr)();
        return inner->open(url);
    }
    mutable std::function<void()> swap;
};

} // namespace

TEST_F(ExportCopiesTest, CopiesIntoExportsAndOutsideAreVerifiedByteForByte)
{
    const MaterialRecord text = addText("first version");
    const MaterialVersion newer = builder().addVersion(text.id, "second version");
    builder().writeState();
    auto store = makeStore();

    // Directly in "Exports"; the result is standardized.
    const QUrl copy = exportTo(*store, text.id, rootPath + "/Exports/sub/../copy.txt");
    EXPECT_EQ(copy, QUrl::fromLocalFile(path("Exports/copy.txt")));
    EXPECT_EQ(bytes("Exports/copy.txt"), QByteArray("second version")) << "the active version when none is named";
    EXPECT_FALSE(exists("Exports/sub"));

    // A new sub-folder below "Exports" is made; an older version on request.
    exportTo(*store, text.id, path("Exports/new/deeper/old.txt"), text.versions[0].id);
    EXPECT_EQ(bytes("Exports/new/deeper/old.txt"), QByteArray("first version"));

    // Outside the data root.
    const QString outside = temporary.path() + "/outside.txt";
    EXPECT_EQ(exportTo(*store, text.id, outside), QUrl::fromLocalFile(outside));
    EXPECT_EQ(read(outside), QByteArray("second version"));
    EXPECT_TRUE(throwsFileError([&] { exportTo(*store, text.id, temporary.path() + "/missing/x.txt"); },
        std::errc::no_such_file_or_directory)) << "folders outside the root are not made";

    // Nothing is recorded and no payload changes.
    EXPECT_EQ(load(*store).materials, builder().snapshot().materials);
    EXPECT_EQ(stateOnDisk().generation, 1u);
    EXPECT_EQ(bytes(newer.relativePath), QByteArray("second version"));

    // An unknown version, an altered payload: the payload's own errors.
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, path("Exports/a.txt"), QUuid::createUuid()); },
        StoreError::Code::notFound));
    builder().alterPayload(newer);
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, path("Exports/a.txt")); },
        StoreError::Code::recoveryRequired));
    EXPECT_FALSE(exists("Exports/a.txt"));
}

TEST_F(ExportCopiesTest, PlacesInsideTheRootOtherThanExportsAndSourceFilesAreRefused)
{
    const MaterialRecord text = addText("payload");
    const QString sourceFile = temporary.path() + "/source.txt";
    MaterialRecord& trashed = addText("trashed", MaterialStatus::trashed);
    trashed.source.filePath = sourceFile;
    builder().writeState();
    auto store = makeStore();
    const QStringList before = entries();

    for (const QString& destination : {path("Exports"), path("Exports/"), path("copy.txt"), path("state.json.copy"),
             path("Materials/copy.txt"), path("Materials/" + uuidText(text.id) + "/copy.txt"), path("Drafts/copy.txt"),
             path("Transactions/copy.txt"), path("Exports/../Materials/copy.txt"), path("Exports/../copy.txt"), rootPath,
             sourceFile, temporary.path() + "/./source.txt"}) {
        EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, destination); }, StoreError::Code::invalidPath))
            << destination.toStdString();
    }
    for (const QUrl& destination : {QUrl("https://example.com/copy.txt"), QUrl("file://server/share/copy.txt"),
             QUrl(), QUrl::fromLocalFile("relative/copy.txt")}) {
        EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->exportCopy(text.id, std::nullopt, destination)); },
            StoreError::Code::invalidPath))
            << destination.toString().toStdString();
    }
    EXPECT_EQ(entries(), before) << "nothing was copied";
    EXPECT_FALSE(QFileInfo::exists(sourceFile));
}

TEST_F(ExportCopiesTest, NoExistingFileIsReplacedEvenOneThatAppearsDuringTheExport)
{
    const MaterialRecord text = addText("payload");
    builder().writeState();
    builder().writeFile("Exports/taken.txt", "someone else's");
    auto files = faultInjecting();
    auto store = makeStore(files);

    EXPECT_TRUE(throwsFileError([&] { exportTo(*store, text.id, path("Exports/taken.txt")); }, std::errc::file_exists));
    EXPECT_EQ(bytes("Exports/taken.txt"), QByteArray("someone else's"));
    const QString outside = temporary.path() + "/taken.txt";
    QFile::copy(path("Exports/taken.txt"), outside);
    EXPECT_TRUE(throwsFileError([&] { exportTo(*store, text.id, outside); }, std::errc::file_exists));
    EXPECT_EQ(read(outside), QByteArray("someone else's"));

    // A file that appears between the existence test and the copy stays as it is.
    files->reset();
    files->setFilter([](FileOperation operation, const QUrl&) { return operation == FileOperation::copy; });
    files->holdCall(1);
    QFuture<QUrl> exporting = store->exportCopy(text.id, std::nullopt, QUrl::fromLocalFile(path("Exports/race.txt")));
    ASSERT_TRUE(files->waitUntilHeld());
    // The store is held meanwhile, and the export does not suspend: nothing else runs.
    builder().writeFile("Exports/race.txt", "arrived first");
    files->release();
    EXPECT_TRUE(throwsFileError([&] { waitForResult(exporting); }, std::errc::file_exists));
    EXPECT_EQ(bytes("Exports/race.txt"), QByteArray("arrived first"));

    // The store is free again after every failure.
    EXPECT_NO_THROW(exportTo(*store, text.id, path("Exports/free.txt")));
}

TEST_F(ExportCopiesTest, BudgetCancellationAndTheBusyRuleStopAnExportBeforeItsCopy)
{
    const MaterialRecord text = addText("0123456789");
    builder().writeState();

    auto full = makeStore(SystemFileOperations::shared(), StorageBudget{1 << 20, 12, 0});
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*full, text.id, temporary.path() + "/out.txt"); },
        StoreError::Code::budgetExceeded)) << "copies outside the root count as well";
    EXPECT_FALSE(QFileInfo::exists(temporary.path() + "/out.txt"));
    auto files = faultInjecting();
    files->setAvailableBytes(15);
    StorageBudget keepFree = roomyBudget();
    keepFree.minimumFreeBytes = 10;
    full.reset();
    auto cramped = makeStore(files, keepFree);
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*cramped, text.id, path("Exports/out.txt")); },
        StoreError::Code::budgetExceeded));
    EXPECT_FALSE(exists("Exports/out.txt"));

    cramped.reset();
    auto store = makeStore();
    const CancellationToken token = CancellationToken::make();
    token.cancel();
    EXPECT_THROW(waitForResult(store->exportCopy(text.id, std::nullopt, QUrl::fromLocalFile(path("Exports/c.txt")), token)),
        CancellationError);
    EXPECT_FALSE(exists("Exports/c.txt"));

    // While another operation holds the store, an export is refused.
    waitForResult(store->executor().run([](StoreContext& context) { context.busy = true; }));
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, path("Exports/busy.txt")); },
        StoreError::Code::operationInProgress));
    EXPECT_TRUE(waitForResult(store->executor().run([](StoreContext& context) { return context.busy; })))
        << "a refused export leaves the other hold alone";
    waitForResult(store->executor().run([](StoreContext& context) { context.busy = false; }));
    // An export holds the store while it runs and frees it afterwards.
    EXPECT_NO_THROW(exportTo(*store, text.id, path("Exports/after.txt")));
    EXPECT_FALSE(waitForResult(store->executor().run([](StoreContext& context) { return context.busy; })));
}

TEST_F(ExportCopiesTest, LinksOnTheWayAreRefused)
{
    const MaterialRecord text = addText("payload");
    builder().writeState();
    auto store = makeStore();
    const std::string tmp = temporary.path().toStdString();

    // A linked folder outside the root, and links inside "Exports" to elsewhere in the root.
    std::filesystem::create_directory(tmp + "/realOut");
    std::filesystem::create_directory_symlink(tmp + "/realOut", tmp + "/linkOut");
    std::filesystem::create_directory_symlink(path("Materials").toStdString(), path("Exports/toMaterials").toStdString());
    std::filesystem::create_directory(path("Exports/plain").toStdString());
    std::filesystem::create_directory_symlink(path("Exports/plain").toStdString(), path("Exports/toPlain").toStdString());
    std::filesystem::create_symlink(tmp + "/nowhere", path("Exports/dangling.txt").toStdString());

    for (const QString& destination : {temporary.path() + "/linkOut/copy.txt", path("Exports/toMaterials/copy.txt"),
             path("Exports/toPlain/copy.txt"), path("Exports/dangling.txt")}) {
        EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, destination); }, StoreError::Code::invalidPath))
            << destination.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(temporary.path() + "/realOut/copy.txt"));
    EXPECT_TRUE(QDir(path("Exports/plain")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(temporary.path() + "/nowhere"));
    // (Links in "Exports" also stop the budget walk: clear them first.)
    for (const char* name : {"toMaterials", "toPlain", "dangling.txt"})
        std::filesystem::remove(path(QStringLiteral("Exports/") + name).toStdString());
    EXPECT_NO_THROW(exportTo(*store, text.id, temporary.path() + "/realOut/copy.txt"));
}

// The data root below a linked folder, as with a linked home folder or a
// "--data-root" below a linked "/tmp".
TEST_F(ExportCopiesTest, ADataRootBelowALinkedFolderExportsIntoExportsAndKeepsItsOtherFoldersShut)
{
    const QString real = temporary.path() + "/real";
    const QString link = temporary.path() + "/link";
    QDir().mkpath(real);
    std::filesystem::create_directory_symlink(real.toStdString(), link.toStdString());
    DataRootBuilder linked(real + "/Tolvex");
    const MaterialRecord text = linked.addMaterial("payload");
    linked.writeState();
    auto store = std::make_unique<MaterialStore>(
        QUrl::fromLocalFile(link + "/Tolvex"), SystemFileOperations::shared(), roomyBudget());

    // Into "Exports", spelled through the link or in its resolved form.
    EXPECT_EQ(exportTo(*store, text.id, link + "/Tolvex/Exports/viaLink.txt"),
        QUrl::fromLocalFile(link + "/Tolvex/Exports/viaLink.txt"));
    EXPECT_EQ(exportTo(*store, text.id, real + "/Tolvex/Exports/sub/resolved.txt"),
        QUrl::fromLocalFile(real + "/Tolvex/Exports/sub/resolved.txt"));
    EXPECT_EQ(linked.readFile("Exports/viaLink.txt"), QByteArray("payload"));
    EXPECT_EQ(linked.readFile("Exports/sub/resolved.txt"), QByteArray("payload"));

    // Every other place of the root is shut, however it is spelled.
    const QString materialFolder = "Materials/" + uuidText(text.id);
    for (const QString& base : {real + "/Tolvex/", link + "/Tolvex/"}) {
        for (const QString& place : {materialFolder + "/extra.txt", QString("Drafts/extra.txt"),
                 QString("Drafts/" + uuidText(QUuid::createUuid()) + "/working.txt"), QString("Transactions/x.json"),
                 QString("state.copy.json"), QString("Exports")}) {
            EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, base + place); }, StoreError::Code::invalidPath))
                << (base + place).toStdString();
        }
    }
    // Reached through another link to the same folder: refused as well.
    std::filesystem::create_directory_symlink(real.toStdString(), (temporary.path() + "/other").toStdString());
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, temporary.path() + "/other/Tolvex/Exports/x.txt"); },
        StoreError::Code::invalidPath));

    // The strict listings are untouched: a new store loads, and lists no session.
    EXPECT_EQ(QDir(real + "/Tolvex/" + materialFolder).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(QDir(real + "/Tolvex/Drafts").isEmpty());
    store.reset();
    auto reopened = std::make_unique<MaterialStore>(
        QUrl::fromLocalFile(link + "/Tolvex"), SystemFileOperations::shared(), roomyBudget());
    EXPECT_NO_THROW(load(*reopened));
    EXPECT_TRUE(pending(*reopened).isEmpty());

    // Edits work there too; the working file named in its resolved form is the same file.
    const EditSession session = create(*reopened, text.id, VersionKind::textEdit);
    EXPECT_TRUE(session.workingURL.toLocalFile().startsWith(link + "/Tolvex/Drafts/"));
    write(*reopened, session, "edited");
    const QUrl resolvedWorking = QUrl::fromLocalFile(real + "/Tolvex/" + folderOf(session) + "/working.txt");
    const WorkspaceSnapshot saved = waitForResult(reopened->finishEditing(session, EditResult::save(resolvedWorking)));
    EXPECT_EQ(linked.readFile(saved.findMaterial(text.id)->versions.last().relativePath), QByteArray("edited"));
    EXPECT_TRUE(pending(*reopened).isEmpty());
}

TEST_F(ExportCopiesTest, TheDestinationGuardJudgesPlacesAgainstTheRootAndItsAnchor)
{
    const QString real = temporary.path() + "/real";
    QDir().mkpath(real + "/Tolvex/Exports");
    std::filesystem::create_directory_symlink(real.toStdString(), (temporary.path() + "/link").toStdString());
    const OwnedPaths paths(QUrl::fromLocalFile(temporary.path() + "/link/Tolvex"));
    auto place = [&](const QString& destination) { return DestinationGuard::place(paths, QUrl::fromLocalFile(destination)); };

    EXPECT_EQ(place(temporary.path() + "/link/Tolvex/Exports/a").relativePath, std::optional<QString>("Exports/a"));
    EXPECT_EQ(place(real + "/Tolvex/Exports/a").relativePath, std::optional<QString>("Exports/a"));
    EXPECT_EQ(place(real + "/Tolvex").relativePath, std::optional<QString>(""));
    EXPECT_FALSE(place(real + "/elsewhere/file").isInsideRoot());
    EXPECT_FALSE(place(real + "/Tolvex2/x").isInsideRoot()) << "a sibling whose name starts with the root's";
    EXPECT_TRUE(throwsStoreError([&] { place(temporary.path() + "/link/elsewhere"); }, StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { place(QString::fromUtf8("/tmp/a\0b", 8)); }, StoreError::Code::invalidPath));
}

TEST_F(ExportCopiesTest, AnImportedFileIsEditedThenExportedUnderItsSuggestedName)
{
    const QString source = writeOutside("notes.txt", "first draft");
    auto store = makeStore();
    const ImportResult imported = importFile(*store, source);
    ASSERT_EQ(imported.disposition.kind(), ImportDisposition::Case::hanging);
    const QUuid id = imported.disposition.id();
    const MaterialRecord original = *imported.snapshot.findMaterial(id);
    EXPECT_EQ(original.kind, MaterialKind::text);

    const EditSession session = create(*store, id, VersionKind::textEdit);
    write(*store, session, "second draft");
    const MaterialRecord edited = *save(*store, session).findMaterial(id);

    const QString name = ContentStore::suggestedExportFilename(edited, QStringLiteral("txt"));
    EXPECT_EQ(name, QStringLiteral("notes.txt"));
    exportTo(*store, id, path("Exports/" + name));
    EXPECT_EQ(bytes("Exports/" + name), QByteArray("second draft"));
    exportTo(*store, id, path("Exports/original/" + name), original.activeVersionID);
    EXPECT_EQ(bytes("Exports/original/" + name), QByteArray("first draft"));
    // Never over the file it came from.
    EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, id, source); }, StoreError::Code::invalidPath));
    EXPECT_EQ(read(source), QByteArray("first draft"));
}

TEST_F(ExportCopiesTest, AFolderSwappedForALinkAfterTheChecksNeverRedirectsTheCopy)
{
    const MaterialRecord text = addText("payload");
    builder().writeState();
    const QString outsideFolder = temporary.path() + "/outside";
    const struct {
        const char* name;
        QString folder; // swapped for a link to "Drafts"
        QString destination;
    } cases[] = {
        {"below Exports", path("Exports/sub"), path("Exports/sub/copy.txt")},
        {"outside the data root", outsideFolder, outsideFolder + "/copy.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir().mkpath(c.folder));
        auto files = std::make_shared<SwappingBeforeCopy>();
        files->swap = [&] {
            ASSERT_TRUE(QDir().rename(c.folder, c.folder + ".moved"));
            ASSERT_TRUE(QFile::link(path("Drafts"), c.folder));
        };
        auto store = makeStore(files);
        EXPECT_TRUE(throwsStoreError([&] { exportTo(*store, text.id, c.destination); }, StoreError::Code::invalidPath));
        EXPECT_FALSE(exists("Drafts/copy.txt"));
        // Once the planted link is gone, the drafts are as readable as
        // before: nothing foreign landed among them.
        QFile::remove(c.folder);
        EXPECT_NO_THROW(createNote(*store));
    }
}

// Every file handed to the user or another program (a copy in "Exports" to
// open or drag out, one saved elsewhere, a staging file rescued, a kept
// draft exported from the recovery window, also over a file the user chose
// to replace) is a file of its own, never another name of a file the
// program keeps: changing it in place changes nothing in the data root.
TEST_F(ExportCopiesTest, EveryCopyHandedOutIsAFileOfItsOwn)
{
    const MaterialRecord text = addText("kept payload");
    builder().writeState();
    const QString staging = QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage");
    builder().writeFile(staging, "staged bytes");
    auto store = makeStore();
    load(*store);
    const EditSession session = create(*store, text.id, VersionKind::textEdit);
    write(*store, session, "kept draft");
    const QString out = temporary.path() + QStringLiteral("/out/");
    ASSERT_TRUE(QDir().mkpath(out));
    writeOutside(QStringLiteral("out/chosen.txt"), "the user's older file");

    const auto exportDraft = [&](const QString& destination) {
        SystemFileOperations::shared()->writeAtomicSeparateCopy(session.workingURL, QUrl::fromLocalFile(destination));
        return destination;
    };
    const struct {
        const char* name;
        std::function<QString()> handOut;
    } cases[] = {
        {"a copy in Exports", [&] { return exportTo(*store, text.id, path(QStringLiteral("Exports/opened/copy.txt"))).toLocalFile(); }},
        {"a copy saved elsewhere", [&] { return exportTo(*store, text.id, out + QStringLiteral("saved.txt")).toLocalFile(); }},
        {"a staging file rescued",
            [&] {
                const StorageCleanupPlan plan = waitForResult(store->previewStorageCleanup(Date::now()));
                const auto target = std::find_if(plan.targets.begin(), plan.targets.end(),
                    [&](const CleanupTarget& candidate) { return candidate.relativePath == staging; });
                EXPECT_NE(target, plan.targets.end());
                return waitForResult(store->exportStagingCopy(*target, plan, QUrl::fromLocalFile(out + QStringLiteral("rescued.bin"))))
                    .toLocalFile();
            }},
        {"a kept draft exported", [&] { return exportDraft(out + QStringLiteral("draft.txt")); }},
        {"a kept draft exported over a chosen file", [&] { return exportDraft(out + QStringLiteral("chosen.txt")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString handedOut = c.handOut();
        const QString key = QDir(rootPath).relativeFilePath(handedOut);
        std::set<std::pair<dev_t, ino_t>> kept;
        QMap<QString, QByteArray> before = contents();
        before.remove(key);
        for (auto entry = before.cbegin(); entry != before.cend(); ++entry) {
            struct stat status {};
            if (::lstat(QFile::encodeName(path(entry.key())).constData(), &status) == 0 && S_ISREG(status.st_mode))
                kept.insert({status.st_dev, status.st_ino});
        }
        struct stat status {};
        ASSERT_EQ(::lstat(QFile::encodeName(handedOut).constData(), &status), 0);
        EXPECT_FALSE(kept.count({status.st_dev, status.st_ino})) << "another name of a file the program keeps";

        QFile file(handedOut);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("changed in place");
        file.close();
        QMap<QString, QByteArray> after = contents();
        after.remove(key);
        EXPECT_EQ(after, before);
    }
}
