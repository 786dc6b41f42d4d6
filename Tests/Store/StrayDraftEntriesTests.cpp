#include "CleanupTesting.h"

#include "TolvexCore/Model/UnexpectedEntryError.h"

#include <filesystem>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// A data root with one of everything "Drafts" is read for: a pending note
// draft, a pending edit session, a taken-down material the cleanup proposes
// and a staging file, so that the staging inventory reads "Drafts" too.
class StrayDraftEntriesTest : public CleanupTestCase {
protected:
    void SetUp() override
    {
        builder().addMaterial("down", MaterialStatus::takenDown);
        text = builder().addMaterial("text").id;
        builder().writeState();
        writeStaging("staged");
        store = makeStore();
        draft = waitForResult(store->createNoteDraft(std::nullopt));
        draft = waitForResult(store->updateNoteDraft(draft.id, QStringLiteral("typed")));
        session = waitForResult(store->createDerivedVersion(text, VersionKind::textEdit));
    }

    struct Seen {
        QList<NoteDraft> drafts;
        QList<EditSession> sessions;
        QStringList targets;
        QList<StagingRecoveryItem> staging;
        friend bool operator==(const Seen&, const Seen&) = default;
    };
    Seen seen()
    {
        return Seen{waitForResult(store->pendingNoteDrafts()), waitForResult(store->pendingEditSessions()),
            pathsOf(preview(*store, QSet<QUuid>{draft.id, session.id}).targets),
            waitForResult(store->stagingRecoveryInventory())};
    }

    QUuid text;
    std::unique_ptr<MaterialStore> store;
    NoteDraft draft;
    EditSession session;
};

// Passes when `work` throws an UnexpectedEntryError naming this entry of this folder.
template <typename Work>
::testing::AssertionResult namesEntry(Work&& work, const QString& folder, const QString& entry)
{
    try {
        work();
    } catch (const UnexpectedEntryError& error) {
        if (error.code() == StoreError::Code::recoveryRequired && error.folder() == folder && error.entry() == entry)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "names " << error.folder().toStdString() << " / "
                                             << error.entry().toStdString();
    } catch (const std::exception& error) {
        return ::testing::AssertionFailure() << "another error: " << error.what();
    }
    return ::testing::AssertionFailure() << "no error";
}

} // namespace

// What file managers and sync tools leave in "Drafts" is not a draft: every
// part that looks for drafts passes it over, sees its own drafts as before,
// and leaves the entry where it is.
TEST_F(StrayDraftEntriesTest, EntriesOfDraftsThatAreNoDraftFolderAreLeftAlone)
{
    const Seen before = seen();
    ASSERT_EQ(before.drafts, QList<NoteDraft>{draft});
    ASSERT_EQ(before.sessions, QList<EditSession>{session});
    ASSERT_EQ(before.targets.size(), 2) << "the material and the staging file";

    const QString id = uuidText(QUuid::createUuid());
    const std::vector<std::pair<QString, std::function<void(const QString&)>>> strays{
        {QStringLiteral("Drafts/.DS_Store"), [&](const QString& at) { builder().writeFile(at, "finder"); }},
        {QStringLiteral("Drafts/Not a draft"), [&](const QString& at) { builder().writeFile(at + "/note.json", "{}"); }},
        {QStringLiteral("Drafts/") + id, [&](const QString& at) { builder().writeFile(at, "a file named like an id"); }},
        {QStringLiteral("Drafts/") + id.toLower(),
            [&](const QString& at) { builder().writeFile(at + "/session.json", "{}"); }},
        {QStringLiteral("Drafts/") + id,
            [&](const QString& at) {
                QDir().mkpath(temporary.path() + "/elsewhere");
                std::filesystem::create_directory_symlink(
                    (temporary.path() + "/elsewhere").toStdString(), path(at).toStdString());
            }},
    };
    for (const auto& [at, make] : strays) {
        make(at);
        const QMap<QString, QByteArray> contents = this->contents();
        EXPECT_EQ(seen(), before) << at.toStdString();
        EXPECT_EQ(this->contents(), contents) << at.toStdString() << " is left as it was";
        // Each listing above ran with the stray in place; a new store loads past it as well.
        store.reset();
        store = makeStore();
        EXPECT_NO_THROW(load(*store)) << at.toStdString();
        QFileInfo(path(at)).isSymLink() || !QFileInfo(path(at)).isDir() ? QFile::remove(path(at))
                                                                      : QDir(path(at)).removeRecursively();
    }
}

// Inside a draft folder a file manager's hidden file is passed over; any
// other entry that is not the draft's stops the reading, and the error names
// the entry and its folder so that the user can move it away.
TEST_F(StrayDraftEntriesTest, AForeignEntryInsideADraftFolderIsNamed)
{
    const Seen before = seen();
    const QString sessionFolder = QStringLiteral("Drafts/") + uuidText(session.id);
    const QString draftFolder = QStringLiteral("Drafts/") + uuidText(draft.id);
    builder().writeFile(sessionFolder + "/.DS_Store", "finder");
    builder().writeFile(draftFolder + "/.directory", "dolphin");
    EXPECT_EQ(seen(), before);

    builder().writeFile(sessionFolder + "/notes.txt", "mine");
    EXPECT_TRUE(namesEntry([&] { waitForResult(store->pendingEditSessions()); }, sessionFolder, "notes.txt"));
    EXPECT_TRUE(namesEntry([&] { preview(*store); }, sessionFolder, "notes.txt"));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(store->stagingRecoveryInventory()); },
        StoreError::Code::recoveryRequired)) << "a StoreError like any other";
    QFile::remove(path(sessionFolder + "/notes.txt"));

    builder().writeFile(draftFolder + "/copy of note.json", "{}");
    EXPECT_TRUE(namesEntry([&] { preview(*store); }, draftFolder, "copy of note.json"));
    QFile::remove(path(draftFolder + "/copy of note.json"));
    EXPECT_EQ(seen(), before);
}
