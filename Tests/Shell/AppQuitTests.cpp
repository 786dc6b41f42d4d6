#include "Windows/WindowsTesting.h"

#include "Velmarin/Shell/AppQuit.h"
#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QFile>
#include <QKeyEvent>

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

} // namespace
} // namespace tolvex
