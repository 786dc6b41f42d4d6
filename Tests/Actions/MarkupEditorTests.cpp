#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Actions/MarkupCanvas.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"

#include <QApplication>
#include <QInputDialog>
#include <QTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>

namespace tolvex {
namespace {

using namespace testing;
using namespace test;

MarkupEditorWindow* shownEditor()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* editor = dynamic_cast<MarkupEditorWindow*>(widget); editor && editor->isVisible())
            return editor;
    }
    return nullptr;
}

void mouse(QWidget* target, QEvent::Type type, const QPointF& at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

QPushButton* button(QWidget* window, MessageKey key)
{
    for (QPushButton* candidate : window->findChildren<QPushButton*>()) {
        if (candidate->text() == appLocalizer().string(key))
            return candidate;
    }
    return nullptr;
}

struct EditorFixture {
    // A white picture unless one is given.
    explicit EditorFixture(QImage picture = {}) : original(std::move(picture))
    {
        if (original.isNull()) {
            original = QImage(200, 120, QImage::Format_RGB32);
            original.fill(Qt::white);
        }
        image = fixture.add(encodeImage(original, "png"), MaterialKind::image, QStringLiteral("png")).id;
        fixture.start(&markup);
    }
    // Starts a markup and waits for our editor's window.
    MarkupEditorWindow* openEditor()
    {
        EXPECT_FALSE(ActionsFixture::attempt(fixture.actions->markup(image)));
        MarkupEditorWindow* editor = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (editor = shownEditor()) && editor->canvas()->width() > 0; }));
        return editor;
    }
    qsizetype versions() const { return fixture.line->snapshot->findMaterial(image)->versions.size(); }

    ActionsFixture fixture;
    Markup markup;
    QImage original;
    QUuid image;
};

// A stroke drawn with the pointer ends, on Done, as a new markup version
// whose pixels differ from the original along the stroke and nowhere else.
// A privacy cover meanwhile hides the window and keeps the marks.
TEST(MarkupEditorTests, DoneSavesTheMarksAsANewVersion)
{
    EditorFixture f;
    f.markup.privacyLine = f.fixture.line.get();
    MarkupEditorWindow* editor = f.openEditor();
    ASSERT_TRUE(editor);
    MarkupCanvas* canvas = editor->canvas();
    mouse(canvas, QEvent::MouseButtonPress, canvas->toWidget({40, 60}));
    mouse(canvas, QEvent::MouseMove, canvas->toWidget({100, 60}));
    mouse(canvas, QEvent::MouseMove, canvas->toWidget({160, 60}));
    mouse(canvas, QEvent::MouseButtonRelease, canvas->toWidget({160, 60}));
    ASSERT_EQ(canvas->marks().size(), 1);
    f.fixture.line->setPrivacyHidden(true);
    EXPECT_FALSE(editor->isVisible());
    f.fixture.line->setPrivacyHidden(false);
    ASSERT_TRUE(waitUntil([&] { return editor->isVisible(); }));
    EXPECT_EQ(canvas->marks().size(), 1);
    QPushButton* done = button(editor, MessageKey::saveCopy);
    ASSERT_TRUE(done);
    done->click();

    ASSERT_TRUE(waitUntil([&] { return f.versions() == 2; }));
    const MaterialRecord record = *f.fixture.line->snapshot->findMaterial(f.image);
    EXPECT_EQ(record.versions.last().kind, VersionKind::markup);
    const QImage marked(waitForResult(f.fixture.store->payloadURL(f.image)).toLocalFile());
    ASSERT_EQ(marked.size(), f.original.size());
    const QRect stroke(30, 50, 141, 21);
    int changed = 0;
    for (int y = 0; y < marked.height(); ++y) {
        for (int x = 0; x < marked.width(); ++x) {
            const bool differs = marked.pixel(x, y) != f.original.pixel(x, y);
            if (!stroke.contains(x, y)) {
                ASSERT_FALSE(differs) << "at " << x << "," << y;
            }
            changed += differs;
        }
    }
    EXPECT_GT(changed, 120 * 2);
    EXPECT_NE(marked.pixel(100, 60), f.original.pixel(100, 60));
    EXPECT_FALSE(f.markup.isEditing());
}

// With nothing drawn, Cancel, Escape and closing the window each end the
// session with cancel at once: no new version, the working copy left to the
// store. (With marks they ask first: MarkupX11Tests.)
TEST(MarkupEditorTests, EveryOtherWayOutCancels)
{
    EditorFixture f;
    const struct {
        const char* name;
        std::function<void(MarkupEditorWindow*)> leave;
    } cases[] = {
        {"cancel button", [](MarkupEditorWindow* editor) { button(editor, MessageKey::cancel)->click(); }},
        {"escape",
            [](MarkupEditorWindow* editor) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(editor, &press);
            }},
        {"closed", [](MarkupEditorWindow* editor) { editor->close(); }},
    };
    for (const auto& c : cases) {
        MarkupEditorWindow* editor = f.openEditor();
        ASSERT_TRUE(editor) << c.name;
        c.leave(editor);
        EXPECT_TRUE(waitUntil([&] { return !f.markup.isEditing() && !shownEditor(); })) << c.name;
        EXPECT_EQ(f.versions(), 1) << c.name;
    }
}

// The editor shows the working copy's exact pixels, read and decoded off
// the GUI thread.
TEST(MarkupEditorTests, TheEditorShowsTheImagesExactPixels)
{
    EditorFixture f(patternImage(37, 23));
    MarkupEditorWindow* editor = f.openEditor();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->canvas()->image().convertToFormat(f.original.format()), f.original);
    editor->cancelEditing();
    EXPECT_TRUE(waitUntil([&] { return !f.markup.isEditing(); }));
}

// A file that passes admission but cannot be decoded after all is reported
// with the save-failure alert, the retry kept on offer; nothing is handed to
// the desktop and no editor shows.
TEST(MarkupEditorTests, AnUndecodableImageIsReported)
{
    ActionsFixture fixture;
    RecordingDesktop desktop;
    int alerts = 0;
    Markup markup({}, {}, Markup::defaultPersist(), {}, &desktop, [&alerts](Alert&) {
        ++alerts;
        return Alert::firstButtonResponse + 1;
    });
    const QUuid image = fixture.add(craftedPng(4097, 4096), MaterialKind::image, QStringLiteral("png")).id;
    fixture.start(&markup);
    ASSERT_FALSE(ActionsFixture::attempt(fixture.actions->markup(image)));
    ASSERT_TRUE(waitUntil([&] { return alerts == 1; }));
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_FALSE(shownEditor());
    EXPECT_TRUE(markup.isEditing());
    EXPECT_TRUE(markup.canRetrySaving());
}

// The text tool's question names what it asks for, in the program's words;
// it is one of the line's modals: a privacy cover ends it, and no text mark
// is placed.
TEST(MarkupEditorTests, ACoverEndsTheTextQuestion)
{
    EditorFixture f;
    f.markup.privacyLine = f.fixture.line.get();
    MarkupEditorWindow* editor = f.openEditor();
    ASSERT_TRUE(editor);
    MarkupCanvas* canvas = editor->canvas();
    canvas->tool = MarkupMark::Tool::text;
    bool asked = false, endedByCover = false;
    QString prompt;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* question = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        asked = question != nullptr;
        if (!question)
            return;
        prompt = question->labelText();
        for (const QPushButton* button : question->findChildren<QPushButton*>())
            buttons << button->text();
        question->setTextValue(QStringLiteral("secret"));
        f.fixture.line->coverImmediately();
        endedByCover = !question->isVisible();
        if (!endedByCover)
            question->accept();
    });
    mouse(canvas, QEvent::MouseButtonPress, canvas->toWidget({20, 20}));
    EXPECT_TRUE(asked);
    EXPECT_EQ(prompt, appLocalizer().string(MessageKey::markupTextPrompt));
    buttons.sort();
    QStringList expected{appLocalizer().string(MessageKey::markupPlaceText), appLocalizer().string(MessageKey::cancel)};
    expected.sort();
    EXPECT_EQ(buttons, expected);
    EXPECT_TRUE(endedByCover);
    EXPECT_TRUE(canvas->marks().isEmpty());
    EXPECT_FALSE(editor->isVisible());
}

// The question before marks are discarded is one of the line's modals: a
// privacy cover ends it, and the marks stay, hidden with the window.
TEST(MarkupEditorTests, ACoverEndsTheDiscardQuestionAndKeepsTheMarks)
{
    EditorFixture f;
    f.markup.privacyLine = f.fixture.line.get();
    MarkupEditorWindow* editor = f.openEditor();
    ASSERT_TRUE(editor);
    MarkupCanvas* canvas = editor->canvas();
    mouse(canvas, QEvent::MouseButtonPress, canvas->toWidget({10, 10}));
    mouse(canvas, QEvent::MouseButtonRelease, canvas->toWidget({50, 50}));
    QString asked;
    bool endedByCover = false;
    QTimer::singleShot(0, [&] {
        auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!question)
            return;
        asked = question->text();
        f.fixture.line->coverImmediately();
        endedByCover = !question->isVisible();
        if (!endedByCover)
            question->done(0);
    });
    editor->cancelEditing();
    EXPECT_EQ(asked, appLocalizer().string(MessageKey::markupDiscardTitle));
    EXPECT_TRUE(endedByCover);
    EXPECT_EQ(canvas->marks().size(), 1);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(f.markup.isEditing());
    f.fixture.line->setPrivacyHidden(false);
    EXPECT_TRUE(waitUntil([&] { return editor->isVisible(); }));
    f.markup.abandon();
}

// Abandoning the session (the quit check's way out) closes its editor, so no
// stroke can be drawn into a session that is gone.
TEST(MarkupEditorTests, AbandoningClosesTheEditor)
{
    EditorFixture f;
    QPointer<MarkupEditorWindow> editor = f.openEditor();
    ASSERT_TRUE(editor);
    f.markup.abandon();
    EXPECT_FALSE(f.markup.isEditing());
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return editor.isNull();
    }));
    EXPECT_EQ(f.versions(), 1);
}

// The action button runs its closure once per press, and not while disabled.
TEST(MarkupEditorTests, ActionButtonRunsItsHandlerPerClick)
{
    int runs = 0;
    ActionButton button(QString(), [&runs] { ++runs; });
    button.click();
    button.click();
    button.setEnabled(false);
    button.click();
    EXPECT_EQ(runs, 2);
    button.setEnabled(true);
    button.click();
    EXPECT_EQ(runs, 3);
}

} // namespace
} // namespace tolvex
