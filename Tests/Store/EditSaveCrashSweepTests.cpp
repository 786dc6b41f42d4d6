#include "CrashSweep.h"
#include "EditTesting.h"

#include <QDirIterator>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class EditSaveCrashSweepTest : public EditTestCase {};

// Every file below `root` with its bytes, by path relative to it.
QHash<QString, QByteArray> filesWithBytesBelow(const QString& root)
{
    QHash<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            files.insert(file.mid(root.size() + 1), f.readAll());
    }
    return files;
}

} // namespace

// Saving an edit at every file call failing once, or the process dying there:
// a new store finds the material on its old active version or on the new one
// with exactly the edited bytes, the session's work is never lost, and
// nothing that existed before the save has changed.
TEST_F(EditSaveCrashSweepTest, EveryFailureOrCrashOfASaveKeepsTheOldOrTheNewVersionAndTheWork)
{
    const MaterialRecord text = addText("base text");
    const MaterialRecord other = addText("other");
    WorkspaceSnapshot fourth = builder().snapshot();
    fourth.generation = 4;
    fourth.materials.removeLast();
    builder().writePreviousState(fourth);
    builder().writeState(5);
    const QByteArray edited = "edited text";

    EditSession session;
    QHash<QString, QByteArray> before;
    QTemporaryDir work;
    CrashSweep sweep;
    sweep.preparedRoot = rootPath;
    // Each run opens its own session: its record names its own data root.
    sweep.setUp = [&](MaterialStore& store) {
        load(store);
        session = create(store, text.id, VersionKind::textEdit);
        write(store, session, edited);
        const QUrl root = waitForResult(store.executor().run([](StoreContext& context) { return context.paths.root(); }));
        before = filesWithBytesBelow(root.toLocalFile());
    };
    sweep.operation = [&](MaterialStore& store) {
        try {
            save(store, session);
        } catch (const SimulatedCrash&) {
            throw;
        } catch (const std::exception& error) {
            // A failed save keeps the session open on its base: it can be saved again.
            EXPECT_NO_THROW(save(store, session)) << "after " << error.what();
        }
    };
    int olds = 0;
    int news = 0;
    int reviewed = 0;
    sweep.check = [&](const QString& copy, const SweepStep& step) {
        MaterialStore store(QUrl::fromLocalFile(copy), SystemFileOperations::shared(), roomyBudget());
        WorkspaceSnapshot loaded;
        ASSERT_NO_THROW(loaded = load(store));
        EXPECT_EQ(loaded.materials.size(), 2);
        const MaterialRecord* material = loaded.findMaterial(text.id);
        ASSERT_TRUE(material);
        EXPECT_EQ(*loaded.findMaterial(other.id), other);

        // Nothing that existed changed; only the state files may hold the new save.
        const QHash<QString, QByteArray> after = filesWithBytesBelow(copy);
        for (auto file = before.cbegin(); file != before.cend(); ++file) {
            if (file.key() == u"state.json" || file.key() == u"state.previous.json")
                continue;
            EXPECT_EQ(after.value(file.key()), file.value()) << file.key().toStdString();
        }
        EXPECT_TRUE(after.value("state.previous.json") == before.value("state.previous.json")
            || after.value("state.previous.json") == before.value("state.json"));

        QList<EditSession> open;
        ASSERT_NO_THROW(open = pending(store)) << "the session folder stays readable";
        if (material->activeVersionID == text.activeVersionID) {
            ++olds;
            EXPECT_NE(step.mode, SweepStep::Mode::fail) << "a failed save is saved by its retry";
            EXPECT_EQ(*material, text);
            EXPECT_EQ(open, QList<EditSession>{session});
            // The interrupted save can simply be done again.
            const WorkspaceSnapshot saved = save(store, session);
            EXPECT_EQ(waitForResult(store.payloadURL(text.id)),
                QUrl::fromLocalFile(copy + u'/' + saved.findMaterial(text.id)->versions.last().relativePath));
        } else {
            ++news;
            ASSERT_EQ(material->versions.size(), 2);
            EXPECT_EQ(material->versions[0], text.versions[0]);
            EXPECT_EQ(material->versions[1].kind, VersionKind::textEdit);
            EXPECT_EQ(material->activeVersionID, material->versions[1].id);
            QUrl payload;
            ASSERT_NO_THROW(payload = waitForResult(store.payloadURL(text.id)));
            EXPECT_EQ(SystemFileOperations::shared()->read(payload), edited);
            if (material->status == MaterialStatus::needsReview) {
                // Taken in from the journal: pending until resumed onto it.
                ++reviewed;
                EXPECT_EQ(open, QList<EditSession>{session});
                EXPECT_EQ(waitForResult(store.resumeEditingSession(session)).baseVersionID, material->activeVersionID);
            } else {
                EXPECT_EQ(material->status, text.status);
                EXPECT_TRUE(open.isEmpty()) << "a saved session is completed";
            }
        }
    };
    const int calls = sweep.run(work.path());
    EXPECT_GE(calls, 15) << "the session check, staging, two journal writes, the commit and the save";
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
    EXPECT_GT(reviewed, 0) << "some crashes fall between the commit and the save";
    EXPECT_EQ(olds + news, calls * 3);
    std::printf("edit save sweep: %d calls, %d runs kept the old version, %d the new (%d of them for review)\n", calls, olds, news, reviewed);
}
