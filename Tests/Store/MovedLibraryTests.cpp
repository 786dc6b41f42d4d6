// A library copied or moved to another folder (a backup restored into a new
// home, a renamed user folder) keeps its unfinished edits: their records
// still name the place they were made in, and this library works on its
// own files while nothing at the old place is read or changed.
#include "CleanupTesting.h"
#include "EditTesting.h"

#include "TolvexCore/Content/ContentStore.h"

#include <QProcess>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class MovedLibraryTest : public EditTestCase {
protected:
    void workOnTheCopy(bool originalGone);

    // The library as `cp -a` copies it, below another folder.
    QString copyOfRoot() const
    {
        const QString copy = temporary.path() + QStringLiteral("/elsewhere/Tolvex");
        EXPECT_TRUE(QDir().mkpath(temporary.path() + QStringLiteral("/elsewhere")));
        EXPECT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), rootPath, copy}), 0);
        return copy;
    }
    static std::unique_ptr<MaterialStore> storeAt(const QString& root, FileOperationsRef files)
    {
        return std::make_unique<MaterialStore>(QUrl::fromLocalFile(root), std::move(files), roomyBudget());
    }
    static QByteArray read(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    // Every file call of the log that reached below `folder`.
    static QStringList callsBelow(const FaultInjectingFileOperations& files, const QString& folder)
    {
        QStringList reached;
        for (const FaultInjectingFileOperations::Call& call : files.log()) {
            for (const QUrl& url : {call.url, call.destination}) {
                if (url.toLocalFile().startsWith(folder + u'/'))
                    reached.append(QString::fromLatin1(fileOperationName(call.operation)) + u' ' + url.toLocalFile());
            }
        }
        return reached;
    }
};

} // namespace

// Listed, reviewed, resumed, written, saved and discarded on the copy, with the
// staging inventory and the cleanup plan taking the copy's sessions for its
// own; the record is rewritten with the copy's place at its resumption. With
// the original still in place its working file holds something else, which
// no result may show.
void MovedLibraryTest::workOnTheCopy(bool originalGone)
{
    {
        const MaterialRecord image = addImage();
        const MaterialRecord text = addText("taken down", MaterialStatus::takenDown);
        builder().writeState();
        const QByteArray marked = png(12);
        EditSession markup;
        EditSession finished;
        {
            auto store = makeStore();
            markup = create(*store, image.id, VersionKind::markup);
            write(*store, markup, marked);
            finished = create(*store, text.id, VersionKind::textEdit);
            write(*store, finished, "finished");
            save(*store, finished);
        }
        // Staged content the pending markup wants.
        builder().writeFile(
            QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), marked);

        const QString copy = copyOfRoot();
        const QString oldWorking = markup.workingURL.toLocalFile();
        if (originalGone) {
            EXPECT_TRUE(QDir().rename(rootPath, temporary.path() + QStringLiteral("/gone")));
        } else {
            QFile old(oldWorking);
            EXPECT_TRUE(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
            old.write(png(20));
        }
        const QMap<QString, QByteArray> original = contents();
        const QUrl copiedWorking = QUrl::fromLocalFile(copy + u'/' + folderOf(markup) + QStringLiteral("/working.png"));

        auto files = std::make_shared<FaultInjectingFileOperations>(SystemFileOperations::shared());
        auto store = storeAt(copy, files);
        EditSession here = markup;
        here.workingURL = copiedWorking;
        EXPECT_EQ(pending(*store), QList<EditSession>{here}) << "handed out as the copy names it";
        const EditSessionReview review = waitForResult(store->reviewEditSessions());
        EXPECT_EQ(review.pending, QList<EditSession>{here});
        EXPECT_TRUE(review.unreadable.isEmpty());

        const QList<StagingRecoveryItem> staging = waitForResult(store->stagingRecoveryInventory());
        ASSERT_EQ(staging.size(), 1);
        EXPECT_EQ(staging.first().disposition, StagingRecoveryItem::Disposition::referenced);
        const StorageCleanupPlan plan = waitForResult(store->previewStorageCleanup(Date::now(), {markup.id}));
        ASSERT_TRUE(targetAt(plan, folderOf(finished)));
        EXPECT_EQ(targetAt(plan, folderOf(finished))->kind, CleanupTarget::Kind::completedEdit);
        EXPECT_FALSE(targetAt(plan, folderOf(markup))) << "a held pending session is no target";

        const EditSession resumed = waitForResult(store->resumeEditingSession(here));
        EXPECT_EQ(resumed, here);
        EXPECT_EQ(Json::decode<EditSession>(read(copy + u'/' + folderOf(markup) + QStringLiteral("/session.json"))),
            here)
            << "the record names the copy's file from its resumption on";
        write(*store, resumed, marked);
        const WorkspaceSnapshot saved = save(*store, resumed);
        const std::optional<MaterialVersion> version = saved.findMaterial(image.id)->activeVersion();
        ASSERT_TRUE(version);
        EXPECT_EQ(version->kind, VersionKind::markup);
        EXPECT_EQ(version->sha256, ContentStore::digest(marked)) << "the copy's marks, not the old place's file";
        waitForResult(store->discardEditSession(markup.id));
        EXPECT_FALSE(QFileInfo::exists(copy + u'/' + folderOf(markup)));

        EXPECT_EQ(callsBelow(*files, rootPath), QStringList());
        EXPECT_EQ(contents(), original) << "nothing at the old place changed";
    }
}

TEST_F(MovedLibraryTest, ACopiedLibraryWorksOnItsOwnSessions)
{
    workOnTheCopy(false);
}

TEST_F(MovedLibraryTest, AMovedLibraryWorksOnItsOwnSessions)
{
    workOnTheCopy(true);
}

// Only this session's own working file below another folder is taken for
// it: a record naming another session's folder, another file, or anything
// but a local file stays refused, and the review lists it as unreadable
// with the folder's own working file to copy out. A record that does not
// decode is listed the same way, without a material.
TEST_F(MovedLibraryTest, ARecordNamingAnythingElseStaysRefused)
{
    const MaterialRecord image = addImage();
    builder().writeState();
    auto store = makeStore();
    const EditSession session = create(*store, image.id, VersionKind::markup);
    const QString id = uuidText(session.id);
    const QString working = path(folderOf(session) + QStringLiteral("/working.png"));
    const struct {
        const char* name;
        QString url;
    } cases[] = {
        {"another session's folder", "file:///old/Tolvex/Drafts/" + uuidText(QUuid::createUuid()) + "/working.png"},
        {"the same folder up a level", "file:///old/Tolvex/Drafts/" + id + "/../" + id + "x/working.png"},
        {"another file name", "file:///old/Tolvex/Drafts/" + id + "/picture.png"},
        {"the record itself", "file:///old/Tolvex/Drafts/" + id + "/session.json"},
        {"nothing above the folder", "file:///Drafts/" + id + "/working.png"},
        {"another host", "file://elsewhere/old/Tolvex/Drafts/" + id + "/working.png"},
        {"not a file", "https://example.org/old/Tolvex/Drafts/" + id + "/working.png"},
        {"a file outside any library", "file:///tmp/working.png"},
        {"a record that does not decode", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EditSession stored = session;
        stored.workingURL = QUrl(c.url);
        builder().writeFile(folderOf(session) + QStringLiteral("/session.json"),
            c.url.isEmpty() ? QByteArray("{\"id\":") : Json::encode(stored));
        EXPECT_TRUE(throwsStoreError([&] { pending(*store); }, StoreError::Code::recoveryRequired));
        EXPECT_TRUE(throwsStoreError(
            [&] { waitForResult(store->resumeEditingSession(stored)); }, StoreError::Code::invalidEdit));
        const EditSessionReview review = waitForResult(store->reviewEditSessions());
        EXPECT_TRUE(review.pending.isEmpty());
        const EditSessionReview::Unreadable expected{session.id,
            c.url.isEmpty() ? std::nullopt : std::optional(image.id), QUrl::fromLocalFile(working)};
        EXPECT_EQ(review.unreadable, QList<EditSessionReview::Unreadable>{expected});
    }
}
