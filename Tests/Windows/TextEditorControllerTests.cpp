#include "Windows/WindowsTesting.h"

#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QFile>
#include <QInputMethodEvent>

#include "Velmarin/Shell/AppLocalizer.h"

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

} // namespace
} // namespace tolvex
