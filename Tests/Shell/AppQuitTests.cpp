#include "Windows/WindowsTesting.h"

#include "Shell/ShellTesting.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Platform/Bookmark.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/AppQuit.h"
#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/NoteTextView.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using testing::DataRootBuilder;
using testing::EditorScene;
using testing::outcome;

QByteArray fileBytes(const QUrl& url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void type(EditorTextView& view, int key, const QString& typed)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, typed);
    QCoreApplication::sendEvent(&view, &press);
}

// When the program is terminated, the text editor's text reaches its
// working file even while the store is busy for a moment; a write that
// never answers is given up at the bound, so the program still ends, and
// the working file keeps what it held.
TEST(AppQuit, KeepingTheEditorsWorkWaitsOutABusyStoreButNotAHungOne)
{
    const struct {
        const char* name;
        int busyWrites;
        bool stall;
        int boundMs;
        bool endsInTime;
        QByteArray working;
    } cases[] = {
        {"busy twice", 2, false, 20000, true, "words\nZ"},
        {"never answering", 0, true, 300, false, "words"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid textID;
        EditorScene scene([&](DataRootBuilder& root) { textID = root.addMaterial("words").id; });
        testing::HeldDraftStore store(*scene.editorStore);
        TextEditorController editor(*scene.line, store);
        ASSERT_EQ(outcome(editor.open(textID, false)), std::nullopt);
        editor.textView().moveCursor(QTextCursor::End);
        type(editor.textView(), Qt::Key_Return, QStringLiteral("\r"));
        type(editor.textView(), Qt::Key_Z, QStringLiteral("Z"));

        store.busyEditingWrites = c.busyWrites;
        store.stallEditingWrites = c.stall;
        const QDeadlineTimer deadline(c.boundMs);
        std::vector<QCoro::Task<void>> keeps;
        keeps.push_back(editor.keepForTermination(deadline));
        EXPECT_EQ(AppQuit::awaitKeeps(std::move(keeps), deadline), c.endsInTime);
        EXPECT_EQ(fileBytes(editor.session()->workingURL), c.working);
        EXPECT_EQ(store.busyEditingWrites, 0);
        for (const auto& stalled : store.stalledEditingWrites)
            stalled->finish();
    }
}

// A termination stops the intake before the editors keep their work: an
// import begun while they wait for the store would hold it, and the keep
// would wait past its bound. Seen from inside the keep, while the note's
// last words are still being written: the capture folder is no longer
// watched. Then the words are in the draft and the program ends once.
TEST(AppQuit, ATerminationStopsTheIntakeBeforeTheEditorsKeepTheirWork)
{
    QTemporaryDir captures;
    ASSERT_TRUE(captures.isValid());
    EditorScene scene([&](DataRootBuilder& root) {
        root.snapshot().captureFolder
            = CaptureFolderSetting{Bookmark::create(captures.path()), captures.path(), true};
    });
    int terminations = 0;
    AppDelegate::Options options;
    options.line = &*scene.line;
    options.sound = std::make_shared<testing::CountingSound>();
    options.fullScreenState = [](const PresentationScreen&) { return FullScreen::State::desktop; };
    options.runAlert = [](Alert&) { return 0; };
    options.endTerminated = [&] { ++terminations; };
    const QUrl root = QUrl::fromLocalFile(scene.folder()->filePath(QStringLiteral("Tolvex")));
    AppDelegate delegate(AppEnvironment{false, root}, std::move(options));
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(testing::waitUntil([&] { return delegate.noteEditor() && delegate.capture()->isEnabled(); }));
    NoteEditorController& note = *delegate.noteEditor();
    ASSERT_EQ(outcome(note.openNew(false)), std::nullopt);

    note.textView().insertPlainText(QStringLiteral("kept at the end"));
    ASSERT_TRUE(note.isPersisting());
    std::optional<bool> watchedDuringKeep;
    QTimer::singleShot(0, [&] { watchedDuringKeep = delegate.capture()->isEnabled(); });
    delegate.terminateKeepingWork();
    ASSERT_TRUE(watchedDuringKeep.has_value());
    EXPECT_FALSE(*watchedDuringKeep);
    EXPECT_EQ(terminations, 1);
    const QList<NoteDraft> drafts = waitForResult(scene.store->pendingNoteDrafts());
    ASSERT_EQ(drafts.size(), 1);
    EXPECT_EQ(drafts.first().text.toStdString(), "kept at the end");
}

} // namespace
} // namespace tolvex
