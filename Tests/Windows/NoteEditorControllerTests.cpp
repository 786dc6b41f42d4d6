#include "Windows/WindowsTesting.h"

#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/NoteTextView.h"

#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/QuitGate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>

namespace tolvex {
namespace {

using testing::EditorScene;
using testing::HeldDraftStore;
using testing::outcome;
using testing::waitUntil;

struct NoteScene : EditorScene {
    NoteScene() : held(*editorStore), editor(*line, held) { editor.onError = [this](std::exception_ptr) { ++errors; }; }
    explicit NoteScene(std::shared_ptr<QTemporaryDir> folder)
        : EditorScene(std::move(folder), {}), held(*editorStore), editor(*line, held)
    {
        editor.onError = [this](std::exception_ptr) { ++errors; };
    }
    void type(const QString& text) { editor.textView().insertPlainText(text); }
    QList<NoteDraft> pending() { return waitForResult(store->pendingNoteDrafts()); }

    HeldDraftStore held;
    NoteEditorController editor;
    int errors = 0;
};

// One write at a time, and the newest text is the one written last.
TEST(NoteEditorControllerTests, TypingDuringASlowWriteWritesTheNewestTextNext)
{
    NoteScene scene;
    ASSERT_EQ(outcome(scene.editor.openNew(false)), std::nullopt);
    scene.held.holdWrites = true;
    scene.type(QStringLiteral("a"));
    scene.type(QStringLiteral("b"));
    ASSERT_EQ(scene.held.held.size(), 1u);
    EXPECT_EQ(scene.held.held.front()->text, QStringLiteral("a"));
    EXPECT_EQ(scene.editor.status(), MessageKey::noteSaving);

    scene.held.releaseOldest();
    ASSERT_TRUE(waitUntil([&] { return scene.held.held.size() == 1; }));
    EXPECT_EQ(scene.held.held.front()->text, QStringLiteral("ab"));
    EXPECT_EQ(scene.editor.status(), MessageKey::noteSaving);
    scene.held.releaseOldest();
    ASSERT_TRUE(waitUntil([&] { return !scene.editor.isPersisting(); }));
    EXPECT_EQ(scene.editor.status(), MessageKey::noteSaved);
    EXPECT_FALSE(scene.editor.hasUnsavedInput());
    EXPECT_EQ(scene.pending().first().text, QStringLiteral("ab"));
}

TEST(NoteEditorControllerTests, AFailedWriteKeepsTheWindowWhenClosingFailsAgain)
{
    NoteScene scene;
    int asked = 0;
    scene.editor.chooseDiscard = [&] {
        ++asked;
        return false;
    };
    ASSERT_EQ(outcome(scene.editor.openNew(true)), std::nullopt);
    scene.held.failWrites = true;
    scene.type(QStringLiteral("kept"));
    ASSERT_TRUE(waitUntil([&] { return !scene.editor.isPersisting(); }));
    EXPECT_EQ(scene.editor.status(), MessageKey::noteSaveFailed);
    EXPECT_TRUE(scene.editor.hangButton()->text().startsWith(appLocalizer().string(MessageKey::noteRetryHang)));

    // The user keeps the text rather than discard it.
    scene.editor.window()->close();
    ASSERT_TRUE(waitUntil([&] { return asked == 1; }));
    EXPECT_EQ(scene.errors, 0);
    EXPECT_TRUE(scene.editor.window()->isVisible());
    EXPECT_EQ(scene.editor.status(), MessageKey::noteSaveFailed);
    EXPECT_TRUE(scene.editor.hasUnsavedInput());

    // The retry of the next close succeeds.
    scene.held.failWrites = false;
    EXPECT_EQ(outcome(scene.editor.dismiss()), std::nullopt);
    EXPECT_FALSE(scene.editor.window()->isVisible());
    EXPECT_EQ(scene.pending().first().text, QStringLiteral("kept"));
}

TEST(NoteEditorControllerTests, OnlyCtrlReturnOrCtrlEnterHangsAndEscapeDismisses)
{
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        int hangs;
        int dismisses;
        QString typed;
    } cases[] = {
        {"Ctrl+Return", Qt::Key_Return, Qt::ControlModifier, 1, 0, {}},
        {"Ctrl+keypad Enter", Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, 1, 0, {}},
        {"Shift+Ctrl+Return", Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier, 0, 0, {}},
        {"Alt+Ctrl+Return", Qt::Key_Return, Qt::ControlModifier | Qt::AltModifier, 0, 0, {}},
        {"Return", Qt::Key_Return, Qt::NoModifier, 0, 0, QStringLiteral("\n")},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, 0, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoteTextView view;
        int hangs = 0, dismisses = 0;
        view.onHang = [&] { ++hangs; };
        view.onDismiss = [&] { ++dismisses; };
        QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers,
            c.key == Qt::Key_Escape ? QStringLiteral("\x1b") : QStringLiteral("\r"));
        QCoreApplication::sendEvent(&view, &press);
        EXPECT_EQ(hangs, c.hangs);
        EXPECT_EQ(dismisses, c.dismisses);
        if (!c.typed.isNull()) {
            EXPECT_EQ(view.text(), c.typed);
        }
    }
}

TEST(NoteEditorControllerTests, ABlankNoteIsAStatusNotAnAlert)
{
    NoteScene scene;
    ASSERT_EQ(outcome(scene.editor.openNew(true)), std::nullopt);
    scene.type(QStringLiteral("  \n "));
    EXPECT_FALSE(scene.editor.hangButton()->isEnabled());
    scene.editor.textView().onHang();
    ASSERT_TRUE(waitUntil([&] { return scene.editor.status() == MessageKey::noteBlank; }));
    EXPECT_EQ(scene.errors, 0);
    EXPECT_TRUE(scene.editor.draft().has_value());
}

TEST(NoteEditorControllerTests, ANewNoteComesBackUntilItIsHungAlsoAfterARestart)
{
    auto folder = std::make_shared<QTemporaryDir>();
    QUuid draftID;
    {
        NoteScene scene(folder);
        ASSERT_EQ(outcome(scene.editor.openNew(false)), std::nullopt);
        draftID = scene.editor.draft()->id;
        scene.type(QStringLiteral("first words"));
        ASSERT_EQ(outcome(scene.editor.dismiss()), std::nullopt);
        ASSERT_EQ(outcome(scene.editor.openNew(false)), std::nullopt);
        EXPECT_EQ(scene.editor.draft()->id, draftID);
        EXPECT_EQ(scene.pending().size(), 1);
    }
    NoteScene restarted(folder);
    ASSERT_EQ(outcome(restarted.editor.openNew(false)), std::nullopt);
    EXPECT_EQ(restarted.editor.draft()->id, draftID);
    EXPECT_EQ(restarted.editor.textView().text(), QStringLiteral("first words"));
    EXPECT_EQ(restarted.pending().size(), 1);

    int hung = 0;
    restarted.editor.onHung = [&] { ++hung; };
    ASSERT_EQ(outcome(restarted.editor.hang()), std::nullopt);
    EXPECT_EQ(hung, 1);
    EXPECT_EQ(restarted.editor.window(), nullptr);
    EXPECT_FALSE(restarted.editor.hasUnsavedInput());
    const MaterialRecord* note = restarted.line->snapshot->findMaterial(restarted.stored().materials.last().id);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->source.origin, ImportOrigin::note);
    EXPECT_EQ(note->status, MaterialStatus::hanging);
    EXPECT_TRUE(restarted.pending().isEmpty());
}

TEST(NoteEditorControllerTests, ACoverDuringTheHangsFlushPublishesNothing)
{
    NoteScene scene;
    ASSERT_EQ(outcome(scene.editor.openNew(true)), std::nullopt);
    scene.held.holdWrites = true;
    scene.type(QStringLiteral("secret"));
    testing::Outcome hanging;
    auto running = testing::record(scene.editor.hang(), &hanging);
    scene.cover();
    scene.held.releaseOldest();
    ASSERT_TRUE(waitUntil([&] { return hanging.done; }));
    EXPECT_EQ(hanging.code, StoreError::Code::invalidSource);
    EXPECT_TRUE(scene.stored().materials.isEmpty());
    EXPECT_TRUE(scene.editor.draft().has_value());
    EXPECT_EQ(scene.pending().first().text, QStringLiteral("secret"));
    // Covered, no hang starts.
    EXPECT_EQ(outcome(scene.editor.hang()), StoreError::Code::invalidEdit);
}

// Under the cover the header keeps the window's title at the top, apart
// from the centred privacy label.
TEST(NoteEditorControllerTests, UnderTheCoverTheTitleStaysAboveThePrivacyLabel)
{
    NoteScene scene;
    ASSERT_EQ(outcome(scene.editor.openNew(true)), std::nullopt);
    scene.cover();
    QWidget* window = scene.editor.window();
    ASSERT_TRUE(waitUntil([&] { return window->windowTitle() == appLocalizer().string(MessageKey::contentHidden); }));
    window->resize(488, 424);
    QApplication::processEvents();
    QList<QRect> shown;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisibleTo(window) && label->text() == appLocalizer().string(MessageKey::contentHidden))
            shown.append(QRect(label->mapTo(window, QPoint(0, 0)), label->size()));
    }
    ASSERT_EQ(shown.size(), 2);
    EXPECT_FALSE(shown[0].intersects(shown[1])) << shown[0].y() << " " << shown[1].y();
    EXPECT_LT(std::min(shown[0].top(), shown[1].top()), 54);
}

// Input past the draft limit never enters the text, so every autosave can succeed.
TEST(NoteEditorControllerTests, InputPastTheDraftLimitIsRefusedWithAStatus)
{
    NoteScene scene;
    ASSERT_EQ(outcome(scene.editor.openNew(false)), std::nullopt);
    const QString nearlyFull(NoteDraft::maximumTextBytes - 1, QLatin1Char('a'));
    scene.type(nearlyFull);
    ASSERT_TRUE(waitUntil([&] { return !scene.editor.isPersisting(); }));

    QKeyEvent twoBytes(QEvent::KeyPress, Qt::Key_E, Qt::NoModifier, QStringLiteral("\u00E9"));
    QCoreApplication::sendEvent(&scene.editor.textView(), &twoBytes);
    EXPECT_EQ(scene.editor.status(), MessageKey::feedbackCapacity);
    EXPECT_EQ(scene.editor.textView().text().size(), nearlyFull.size());

    QKeyEvent oneByte(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    QCoreApplication::sendEvent(&scene.editor.textView(), &oneByte);
    ASSERT_TRUE(waitUntil([&] { return !scene.editor.isPersisting(); }));
    EXPECT_EQ(scene.editor.status(), MessageKey::noteSaved);
    EXPECT_EQ(scene.pending().first().text.toUtf8().size(), NoteDraft::maximumTextBytes);
}

// An autosave the store refuses (no room) never traps the user: closing and
// quitting offer to discard the unsaved text; the draft keeps what was saved
// before and comes back with the next new note.
TEST(NoteEditorControllerTests, AfterARefusedWriteTheUserCanDiscardAndLeave)
{
    for (const bool viaQuit : {false, true}) {
        SCOPED_TRACE(viaQuit ? "quit" : "close");
        NoteScene scene;
        int asked = 0;
        scene.editor.chooseDiscard = [&] {
            ++asked;
            return true;
        };
        ASSERT_EQ(outcome(scene.editor.openNew(true)), std::nullopt);
        scene.type(QStringLiteral("kept"));
        ASSERT_TRUE(waitUntil([&] { return !scene.editor.isPersisting(); }));
        scene.files->setAvailableBytes(0);
        scene.type(QStringLiteral(" and more"));
        ASSERT_TRUE(waitUntil([&] { return !scene.editor.isPersisting(); }));
        ASSERT_EQ(scene.editor.status(), MessageKey::noteSaveFailed);

        if (viaQuit) {
            int alerts = 0;
            const auto discardButton = [&](Alert&) {
                ++alerts;
                return Alert::firstButtonResponse + 1;
            };
            EXPECT_TRUE(QuitGate::requestTermination(
                {nullptr, &scene.editor, nullptr, std::nullopt, std::nullopt}, discardButton));
            EXPECT_EQ(alerts, 1);
        } else {
            scene.editor.window()->close();
            ASSERT_TRUE(waitUntil([&] { return asked == 1 && !scene.editor.isPersisting(); }));
        }
        EXPECT_EQ(scene.errors, 0);
        EXPECT_FALSE(scene.editor.draft().has_value());
        EXPECT_EQ(scene.editor.window(), nullptr);
        EXPECT_FALSE(scene.editor.blocksQuit());
        EXPECT_EQ(scene.pending().first().text, QStringLiteral("kept"));
        scene.files->clearAvailableBytesOverride();
        ASSERT_EQ(outcome(scene.editor.openNew(false)), std::nullopt);
        EXPECT_EQ(scene.editor.textView().text(), QStringLiteral("kept"));
    }
}

} // namespace
} // namespace tolvex
