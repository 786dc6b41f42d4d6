#include "Shelf/ShelfTesting.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/AppQuit.h"
#include "Velmarin/Shell/QuitGate.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

class RefusingDetail final : public MaterialDetailController {
public:
    using MaterialDetailController::MaterialDetailController;
    bool releaseFocus() override { return !refuse; }
    bool hasUnsavedChanges() const override { return unsaved; }
    bool refuse = false;
    bool unsaved = false;
};

class BusyText final : public TextEditorController {
public:
    using TextEditorController::TextEditorController;
    bool isEditing() const override { return editing; }
    bool canDiscardUnsaved() const override { return refused; }
    bool discardUnsaved() override
    {
        *log += QStringLiteral("discard text");
        return true;
    }
    bool editing = false;
    bool refused = false;
    QString* log = nullptr;
};

class BusyNote final : public NoteEditorController {
public:
    using NoteEditorController::NoteEditorController;
    bool blocksQuit() const override { return busy; }
    bool canDiscardUnsaved() const override { return refused; }
    bool discardUnsaved() override
    {
        *log += QStringLiteral("discard note");
        return true;
    }
    bool busy = false;
    bool refused = false;
    QString* log = nullptr;
};

struct Shown {
    QString title;
    int buttons = 0;
    QString firstButton;
};

TEST(QuitGate, AsksInOrderAndOnlyTheClipboardAndMarkupCanBeDiscarded)
{
    testing::ControlledLineStore store;
    testing::MemoryUserDefaults defaults;
    Line line(store, defaults);
    const auto text = [](MessageKey key) { return appLocalizer().string(key); };

    struct World {
        bool detailRefuses = false, detailUnsaved = false, noteOpening = false, textEditing = false;
        bool noteRefused = false, textRefused = false;
        bool markupEditing = false, markupCanRetry = false, clipboardPending = false, discardWorks = true;
    };
    struct Case {
        const char* name;
        World world;
        int response;
        bool quits;
        QString title; // empty: no alert
        int buttons;
        const char* clipboardLog;
    };
    const std::vector<Case> cases = {
        {"nothing blocks", {}, 0, true, {}, 0, ""},
        {"field refuses to end its edit", {.detailRefuses = true}, 0, false, text(MessageKey::detailQuitPending), 1, ""},
        {"unsaved detail", {.detailUnsaved = true}, 0, false, text(MessageKey::detailQuitPending), 1, ""},
        {"note only opening", {.noteOpening = true}, 0, false, text(MessageKey::noteSavingQuit), 1, ""},
        {"note before clipboard", {.noteOpening = true, .clipboardPending = true}, 1002, false,
            text(MessageKey::noteSavingQuit), 1, ""},
        {"text editing", {.textEditing = true}, 0, false, text(MessageKey::textEditingTitle), 1, ""},
        {"text write refused, kept", {.textEditing = true, .textRefused = true}, 1000, false,
            text(MessageKey::textEditingTitle), 2, ""},
        {"note write refused, discarded", {.noteOpening = true, .noteRefused = true}, 1001, true,
            text(MessageKey::noteSavingQuit), 2, "discard note"},
        {"markup without retry", {.markupEditing = true}, 1000, false, text(MessageKey::markupInProgress), 2, ""},
        {"markup with retry", {.markupEditing = true, .markupCanRetry = true}, 1000, false,
            text(MessageKey::markupInProgress), 3, "retry markup"},
        {"markup abandoned", {.markupEditing = true}, 1001, true, text(MessageKey::markupInProgress), 2, "abandon"},
        {"clipboard kept", {.clipboardPending = true}, 1000, false, text(MessageKey::clipboardPendingQuit), 3, ""},
        {"clipboard retried", {.clipboardPending = true}, 1001, false, text(MessageKey::clipboardPendingQuit), 3, "retry"},
        {"clipboard discarded", {.clipboardPending = true}, 1002, true, text(MessageKey::clipboardPendingQuit), 3,
            "discard stop"},
        {"discard fails", {.clipboardPending = true, .discardWorks = false}, 1002, false,
            text(MessageKey::clipboardPendingQuit), 3, "discard"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MaterialEditorStore editorStore(nullptr);
        BusyText textEditor(line, editorStore);
        RefusingDetail detail(line, editorStore, DetailActions{}, textEditor);
        BusyNote noteEditor(line, editorStore);
        detail.refuse = c.world.detailRefuses;
        detail.unsaved = c.world.detailUnsaved;
        noteEditor.busy = c.world.noteOpening;
        textEditor.editing = c.world.textEditing;
        noteEditor.refused = c.world.noteRefused;
        textEditor.refused = c.world.textRefused;

        QString log;
        noteEditor.log = textEditor.log = &log;
        QuitGate::Clipboard clipboard{[&] { return c.world.clipboardPending; },
            [&] {
                log += QStringLiteral("discard");
                return c.world.discardWorks;
            },
            [&] { log += QStringLiteral(" stop"); }, [&] { log += QStringLiteral("retry"); }};
        const QuitGate::MarkupSession markup{c.world.markupEditing, false, c.world.markupCanRetry,
            [&] { log += QStringLiteral("retry markup"); }, [&] { log += QStringLiteral("abandon"); }};
        std::vector<Shown> shown;
        const bool quits = QuitGate::requestTermination({&detail, &noteEditor, &textEditor, markup, clipboard},
            [&](Alert& alert) {
                const QList<QAbstractButton*> buttons = alert.window()->buttons();
                shown.push_back({alert.window()->text(), static_cast<int>(buttons.size()),
                    buttons.isEmpty() ? QString() : buttons.first()->text()});
                return c.response;
            });
        EXPECT_EQ(quits, c.quits);
        EXPECT_EQ(log, QString::fromLatin1(c.clipboardLog));
        if (c.title.isEmpty()) {
            EXPECT_TRUE(shown.empty());
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].title, c.title);
            EXPECT_EQ(shown[0].buttons, c.buttons);
            // An alert that only says why the quit did not happen.
            if (c.buttons == 1) {
                EXPECT_EQ(shown[0].firstButton, text(MessageKey::alertOk));
            }
        }
    }
}

// Escape and the title bar's close answer an alert with its escape button;
// Qt's own pick is the lone second button, which here is "Discard".
TEST(QuitGate, ClosingTheAlertNeverDiscards)
{
    testing::ControlledLineStore store;
    testing::MemoryUserDefaults defaults;
    Line line(store, defaults);
    struct Case {
        const char* name;
        bool text, note, markup, markupRetry, clipboard;
    };
    const Case cases[] = {{"text", true, false, false, false, false}, {"note", false, true, false, false, false},
        {"markup", false, false, true, false, false}, {"markup with retry", false, false, true, true, false},
        {"clipboard", false, false, false, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MaterialEditorStore editorStore(nullptr);
        BusyText textEditor(line, editorStore);
        BusyNote noteEditor(line, editorStore);
        textEditor.editing = textEditor.refused = c.text;
        noteEditor.busy = noteEditor.refused = c.note;
        QString log;
        noteEditor.log = textEditor.log = &log;
        QuitGate::Participants participants;
        participants.textEditor = &textEditor;
        participants.noteEditor = &noteEditor;
        participants.markup = QuitGate::MarkupSession{c.markup, false, c.markupRetry,
            [&] { log += QStringLiteral("retry markup"); }, [&] { log += QStringLiteral("abandon"); }};
        participants.clipboard = QuitGate::Clipboard{[&] { return c.clipboard; },
            [&] {
                log += QStringLiteral("discard");
                return true;
            },
            [&] { log += QStringLiteral(" stop"); }, [&] { log += QStringLiteral("retry"); }};
        int shown = 0;
        const bool quits = QuitGate::requestTermination(participants, [&](Alert& alert) {
            ++shown;
            QTimer::singleShot(0, alert.window(), [box = alert.window()] {
                // A box without an escape button ignores the close.
                if (!box->close())
                    box->done(0);
            });
            return alert.run();
        });
        EXPECT_EQ(shown, 1);
        EXPECT_FALSE(quits);
        EXPECT_EQ(log, QString());
    }
}

// A quit that an editor holds back is never refused in silence: while the
// privacy cover is up the check's alert still shows (its window titled with
// the cover's words, its text naming no material), as it does uncovered.
TEST(QuitGate, TheAlertOfARefusedQuitShowsAlsoUnderTheCover)
{
    const auto text = [](MessageKey key) { return appLocalizer().string(key); };
    for (const bool covered : {false, true}) {
        SCOPED_TRACE(covered ? "covered" : "shown");
        testing::ControlledLineStore store;
        testing::MemoryUserDefaults defaults;
        Line line(store, defaults);
        if (covered)
            line.coverImmediately();
        MaterialEditorStore editorStore(nullptr);
        BusyText textEditor(line, editorStore);
        textEditor.editing = true;
        QuitGate::Participants participants;
        participants.textEditor = &textEditor;

        QString shownText;
        QString shownWindowTitle;
        QTimer answering;
        answering.setInterval(10);
        QObject::connect(&answering, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->buttons().isEmpty())
                return;
            shownText = box->text();
            shownWindowTitle = box->windowTitle();
            box->buttons().first()->click();
        });
        answering.start();
        const bool quits = QuitGate::requestTermination(
            participants, [&](Alert& alert) { return AppQuit::runAlert(&line, alert); });
        answering.stop();

        EXPECT_FALSE(quits);
        EXPECT_EQ(shownText, text(MessageKey::textEditingTitle));
        EXPECT_EQ(shownWindowTitle, covered ? text(MessageKey::contentHidden) : QStringLiteral("Tolvex"));
    }
}

} // namespace
} // namespace tolvex
