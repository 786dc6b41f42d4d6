// The note editor on the test desktop: keys come from the X server as a
// person's typing would.
#include "Windows/WindowsTesting.h"
#include "Support/Xdotool.h"

#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/NoteTextView.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>

namespace tolvex {
namespace {

using testing::EditorScene;
using testing::outcome;
using testing::waitUntil;
using testing::xdotool;

TEST(NoteEditorX11Tests, TypedTextHungWithCtrlReturnHangsExactlyThatText)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    EditorScene scene;
    NoteEditorController editor(*scene.line, *scene.editorStore);
    int hung = 0;
    editor.onHung = [&] { ++hung; };
    ASSERT_EQ(outcome(editor.openNew(true)), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return editor.window()->isVisible(); }));
    const QString window = QString::number(editor.window()->winId());
    ASSERT_TRUE(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}));
    ASSERT_TRUE(waitUntil([&] { return editor.window()->isActiveWindow() && editor.textView().hasFocus(); }));

    const QString typed = QStringLiteral("Rope note 42, typed");
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), typed}));
    ASSERT_TRUE(waitUntil([&] { return editor.textView().text() == typed; })) << editor.textView().text().toStdString();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+Return")}));
    ASSERT_TRUE(waitUntil([&] { return hung == 1; }));

    const WorkspaceSnapshot stored = scene.stored();
    ASSERT_EQ(stored.materials.size(), 1);
    const MaterialRecord& note = stored.materials.first();
    EXPECT_EQ(note.kind, MaterialKind::text);
    EXPECT_EQ(note.source.origin, ImportOrigin::note);
    EXPECT_EQ(note.status, MaterialStatus::hanging);
    QFile payload(waitForResult(scene.store->payloadURL(note.id, std::nullopt)).toLocalFile());
    ASSERT_TRUE(payload.open(QIODevice::ReadOnly));
    EXPECT_EQ(payload.readAll(), typed.toUtf8());
    EXPECT_EQ(editor.window(), nullptr);
}

} // namespace
} // namespace tolvex
