#include "Windows/WindowsTesting.h"

#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/QuitGate.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/NoteTextView.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>

namespace tolvex {
namespace {

using testing::DataRootBuilder;
using testing::EditorScene;
using testing::outcome;
constexpr std::int64_t limit = TextEditorController::maximumTextBytes;

struct TextScene : EditorScene {
    explicit TextScene(const Build& build) : EditorScene(build), editor(*line, *editorStore) {}
    TextEditorController editor;
};

QList<EditSession> pendingSessions(EditorScene& scene)
{
    return waitForResult(scene.store->pendingEditSessions());
}

QByteArray fileBytes(const QUrl& url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray activePayload(EditorScene& scene, const QUuid& id)
{
    return fileBytes(waitForResult(scene.store->payloadURL(id, std::nullopt)));
}

void type(EditorTextView& view, const QString& typed, int key = Qt::Key_A)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, typed);
    QCoreApplication::sendEvent(&view, &press);
}

// A new line, then a letter.
void typeLine(EditorTextView& view)
{
    type(view, QStringLiteral("\r"), Qt::Key_Return);
    type(view, QStringLiteral("Z"));
}

// The document under both editors reads no-break spaces, every kind of line
// break, the separators and a byte-order mark back in other forms; none of
// that may reach the store. Opening writes nothing, an unedited save keeps
// the bytes, and an edit keeps every byte it did not touch; a line break
// typed anew follows the text's first one, also on an empty line.
TEST(EditorTextTests, TextTheUserDidNotTouchKeepsItsBytes)
{
    const struct {
        const char* name;
        QByteArray bytes;
        QByteArray typedBreak;
    } cases[] = {
        {"no-break space", "a\xC2\xA0" "b", "\n"},
        {"CR LF", "a\r\nb", "\r\n"},
        {"CR", "a\rb", "\r"},
        {"line separator", "a\xE2\x80\xA8" "b", "\n"},
        {"paragraph separator", "a\xE2\x80\xA9" "b", "\n"},
        {"byte-order mark", "\xEF\xBB\xBF" "ab", "\n"},
        // The new line starts on an empty line, which Qt would only reformat.
        {"a line break at the end", "a\n", "\n"},
        {"all of them", "\xEF\xBB\xBF" "a\xC2\xA0" "b\r\nc\xE2\x80\xA8" "d\re\xE2\x80\xA9" "f\n\r\ng", "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid textID, noteID;
        EditorScene scene([&](DataRootBuilder& root) {
            textID = root.addMaterial(c.bytes).id;
            noteID = root.addMaterial(c.bytes, MaterialStatus::hanging, QStringLiteral("txt"), {}, ImportOrigin::note)
                         .id;
        });
        testing::HeldDraftStore held(*scene.editorStore);
        TextEditorController text(*scene.line, *scene.editorStore);
        NoteEditorController note(*scene.line, held);

        ASSERT_EQ(outcome(text.open(textID, false)), std::nullopt);
        ASSERT_EQ(outcome(text.save()), std::nullopt);
        EXPECT_EQ(activePayload(scene, textID), c.bytes);
        ASSERT_EQ(outcome(text.open(textID, false)), std::nullopt);
        text.textView().moveCursor(QTextCursor::End);
        typeLine(text.textView());
        ASSERT_EQ(outcome(text.save()), std::nullopt);
        EXPECT_EQ(activePayload(scene, textID), c.bytes + c.typedBreak + "Z");

        held.holdWrites = true;
        ASSERT_EQ(outcome(note.open(noteID, false)), std::nullopt);
        EXPECT_TRUE(held.held.empty());
        EXPECT_FALSE(note.hasUnsavedInput());
        held.holdWrites = false;
        ASSERT_EQ(outcome(note.hang()), std::nullopt);
        EXPECT_EQ(activePayload(scene, noteID), c.bytes);
        // A resumed draft takes typing at its end.
        const NoteDraft fresh = waitForResult(scene.store->createNoteDraft(std::nullopt));
        const NoteDraft pending
            = waitForResult(scene.store->updateNoteDraft(fresh.id, *EditorSupport::decodeUtf8(c.bytes)));
        ASSERT_EQ(outcome(note.resume(pending, false)), std::nullopt);
        typeLine(note.textView());
        ASSERT_EQ(outcome(note.hang()), std::nullopt);
        EXPECT_EQ(activePayload(scene, pending.materialID), c.bytes + c.typedBreak + "Z");
    }
}

// The limit is checked by recorded size before the store copies anything,
// and nothing but an idle editor over a text material opens.
TEST(TextEditorControllerTests, OpenChecksComeBeforeAnyStoreCall)
{
    const struct {
        const char* name;
        QByteArray payload;
        QString extension;
        bool covered;
        std::optional<StoreError::Code> expected;
    } cases[] = {
        {"exactly the limit", QByteArray(limit, 'a'), QStringLiteral("txt"), false, std::nullopt},
        {"one byte over", QByteArray(limit + 1, 'a'), QStringLiteral("txt"), false, StoreError::Code::invalidEdit},
        {"not a text", QByteArray("%PDF-"), QStringLiteral("bin"), false, StoreError::Code::invalidEdit},
        {"covered", QByteArray("words"), QStringLiteral("txt"), true, StoreError::Code::invalidEdit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid id;
        TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial(c.payload, MaterialStatus::hanging, c.extension).id; });
        if (c.covered)
            scene.cover();
        EXPECT_EQ(outcome(scene.editor.open(id, false)), c.expected);
        EXPECT_EQ(pendingSessions(scene).size(), c.expected ? 0 : 1);
        EXPECT_EQ(scene.editor.isEditing(), !c.expected);
        if (!c.expected) {
            EXPECT_EQ(scene.editor.textView().text().size(), limit);
            // A second open leaves the first session alone.
            EXPECT_EQ(outcome(scene.editor.open(id, false)), StoreError::Code::invalidEdit);
            EXPECT_EQ(pendingSessions(scene).size(), 1);
        }
    }
}

// A working file changed behind the editor's back is refused on resume and
// the session stays pending for the recovery window.
TEST(TextEditorControllerTests, ResumeRefusesAnUnreadableWorkingFileAndKeepsTheSession)
{
    const struct {
        const char* name;
        QByteArray working;
        std::optional<StoreError::Code> expected;
    } cases[] = {
        {"valid", QByteArray("edited \xC3\xA9"), std::nullopt},
        {"grown past the limit", QByteArray(limit + 1, 'a'), StoreError::Code::invalidEdit},
        {"not UTF-8", QByteArray("bad \xC3\x28 bytes"), StoreError::Code::invalidEdit},
        {"cut in a character", QByteArray("cut \xE2\x82"), StoreError::Code::invalidEdit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid id;
        TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial("original").id; });
        const EditSession session = waitForResult(scene.store->createDerivedVersion(id, VersionKind::textEdit));
        QFile working(session.workingURL.toLocalFile());
        ASSERT_TRUE(working.open(QIODevice::WriteOnly | QIODevice::Truncate));
        working.write(c.working);
        working.close();
        EXPECT_EQ(outcome(scene.editor.resume(session, false)), c.expected);
        EXPECT_EQ(scene.editor.session().has_value(), !c.expected);
        EXPECT_FALSE(scene.editor.isEditing() && c.expected);
        EXPECT_EQ(pendingSessions(scene), QList<EditSession>{session});
        if (!c.expected) {
            EXPECT_EQ(scene.editor.textView().text(), QString::fromUtf8(c.working));
        }
    }
}

TEST(TextEditorControllerTests, SaveKeepsANewVersionAndCancelKeepsTheTextInTheSession)
{
    const struct {
        const char* name;
        bool save;
        bool covered;
        std::optional<StoreError::Code> expected;
        int versions;
    } cases[] = {
        {"save", true, false, std::nullopt, 2},
        {"save while covered", true, true, StoreError::Code::invalidEdit, 1},
        {"cancel while covered", false, true, std::nullopt, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid id;
        TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial("first").id; });
        ASSERT_EQ(outcome(scene.editor.open(id, true)), std::nullopt);
        const EditSession session = *scene.editor.session();
        scene.editor.textView().replaceText(QStringLiteral("second draft"));
        if (c.covered)
            scene.cover();
        EXPECT_EQ(outcome(c.save ? scene.editor.save() : scene.editor.cancel()), c.expected);

        const WorkspaceSnapshot stored = scene.stored();
        EXPECT_EQ(stored.findMaterial(id)->versions.size(), c.versions);
        EXPECT_EQ(scene.editor.session().has_value(), c.expected.has_value());
        EXPECT_EQ(scene.editor.window() != nullptr, c.expected.has_value());
        if (!c.save) {
            QFile working(session.workingURL.toLocalFile());
            ASSERT_TRUE(working.open(QIODevice::ReadOnly));
            EXPECT_EQ(working.readAll(), QByteArray("second draft"));
            EXPECT_EQ(pendingSessions(scene), QList<EditSession>{session});
        }
        if (c.save && !c.expected) {
            const QUrl active = waitForResult(scene.store->payloadURL(id, std::nullopt));
            QFile payload(active.toLocalFile());
            ASSERT_TRUE(payload.open(QIODevice::ReadOnly));
            EXPECT_EQ(payload.readAll(), QByteArray("second draft"));
            // The line shows the new version.
            EXPECT_EQ(scene.line->snapshot->findMaterial(id)->activeVersionID, stored.findMaterial(id)->activeVersionID);
        }
    }
}

TEST(TextEditorControllerTests, ASecondSaveOrAComposingSaveIsRefused)
{
    QUuid id;
    TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial("first").id; });
    ASSERT_EQ(outcome(scene.editor.open(id, true)), std::nullopt);

    QInputMethodEvent composing(QStringLiteral("ni"), {});
    QCoreApplication::sendEvent(&scene.editor.textView(), &composing);
    EXPECT_EQ(outcome(scene.editor.save()), StoreError::Code::operationInProgress);
    EXPECT_EQ(outcome(scene.editor.cancel()), StoreError::Code::operationInProgress);
    scene.editor.textView().endEditing();
    EXPECT_FALSE(scene.editor.textView().hasMarkedText());

    QCoro::Task<void> first = scene.editor.save();
    EXPECT_TRUE(scene.editor.isSaving());
    EXPECT_EQ(outcome(scene.editor.save()), StoreError::Code::invalidEdit);
    EXPECT_EQ(outcome(std::move(first)), std::nullopt);
    EXPECT_EQ(scene.stored().findMaterial(id)->versions.size(), 2);
    EXPECT_TRUE(scene.editor.textView().text().startsWith(QStringLiteral("ni")));
}

TEST(TextEditorControllerTests, ClosingTheWindowCancelsAndAResumeOntoANewerVersionSaysSo)
{
    QUuid id;
    TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial("first").id; });
    const EditSession older = waitForResult(scene.store->createDerivedVersion(id, VersionKind::textEdit));
    ASSERT_EQ(outcome(scene.editor.open(id, true)), std::nullopt);
    scene.editor.textView().replaceText(QStringLiteral("kept"));
    ASSERT_EQ(outcome(scene.editor.save()), std::nullopt);

    ASSERT_EQ(outcome(scene.editor.resume(older, true)), std::nullopt);
    EXPECT_EQ(scene.editor.helpLabel()->text(), appLocalizer().string(MessageKey::textRecoveryChanged));
    scene.editor.window()->close();
    EXPECT_TRUE(testing::waitUntil([&] { return !scene.editor.isEditing(); }));
    EXPECT_EQ(scene.stored().findMaterial(id)->versions.size(), 2);
}

// The view keeps a text within the size an editor opens, so no version is
// made that the editor would then refuse to open.
TEST(TextEditorControllerTests, InputPastTheBoundIsRefusedAndNoLargerVersionIsSaved)
{
    QUuid id;
    TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial("a").id; });
    ASSERT_EQ(outcome(scene.editor.open(id, false)), std::nullopt);
    EditorTextView& view = scene.editor.textView();
    view.moveCursor(QTextCursor::End);
    QGuiApplication::clipboard()->setText(QString(limit, QLatin1Char('b')));
    view.paste();
    EXPECT_EQ(view.text().size(), 1);
    EXPECT_EQ(scene.editor.helpLabel()->text(), appLocalizer().string(MessageKey::feedbackCapacity));

    QGuiApplication::clipboard()->setText(QString(limit - 2, QLatin1Char('b')));
    view.paste();
    type(view, QStringLiteral("\u00E9")); // two bytes: one too many
    type(view, QStringLiteral("c"));
    EXPECT_EQ(view.text().toUtf8().size(), limit);
    EXPECT_TRUE(view.text().endsWith(QStringLiteral("bc")));
    ASSERT_EQ(outcome(scene.editor.save()), std::nullopt);
    ASSERT_EQ(outcome(scene.editor.open(id, false)), std::nullopt);

    // Grown past the bound behind the view's back, the text is not saved.
    scene.editor.textView().insertPlainText(QStringLiteral("d"));
    EXPECT_EQ(outcome(scene.editor.save()), StoreError::Code::invalidEdit);
    EXPECT_EQ(scene.stored().findMaterial(id)->versions.size(), 2);
}

// A write the store refuses (no room) never traps the user: closing (the
// close button or Cancel) and quitting offer to discard the unsaved text, and
// the working file keeps what was written to it before.
TEST(TextEditorControllerTests, AfterARefusedWriteTheUserCanDiscardAndLeave)
{
    const struct {
        const char* name;
        bool viaQuit;
        bool discard;
    } cases[] = {
        {"close, keep editing", false, false},
        {"close, discard", false, true},
        {"quit, discard", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QUuid id;
        TextScene scene([&](DataRootBuilder& root) { id = root.addMaterial("first").id; });
        int asked = 0, errors = 0;
        scene.editor.chooseDiscard = [&] {
            ++asked;
            return c.discard;
        };
        scene.editor.onError = [&](std::exception_ptr) { ++errors; };
        ASSERT_EQ(outcome(scene.editor.open(id, true)), std::nullopt);
        const EditSession session = *scene.editor.session();
        scene.editor.textView().replaceText(QStringLiteral("typed while the disk is full"));
        scene.files->setAvailableBytes(0);
        EXPECT_EQ(outcome(scene.editor.save()), StoreError::Code::budgetExceeded);

        if (c.viaQuit) {
            int alerts = 0;
            const auto discardButton = [&](Alert&) {
                ++alerts;
                return Alert::firstButtonResponse + 1;
            };
            EXPECT_TRUE(QuitGate::requestTermination(
                {nullptr, nullptr, &scene.editor, std::nullopt, std::nullopt}, discardButton));
            EXPECT_EQ(alerts, 1);
        } else {
            scene.editor.window()->close();
            ASSERT_TRUE(testing::waitUntil([&] { return asked == 1; }));
            EXPECT_EQ(errors, 0);
        }
        EXPECT_EQ(scene.editor.isEditing(), !c.discard);
        EXPECT_EQ(scene.editor.window() != nullptr, !c.discard);
        EXPECT_EQ(pendingSessions(scene), QList<EditSession>{session});
        EXPECT_EQ(fileBytes(session.workingURL), QByteArray("first"));
    }
}

} // namespace
} // namespace tolvex
