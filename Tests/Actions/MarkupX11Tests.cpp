// Our markup editor on the test desktop, with photo-sized images, strokes
// drawn by the X server's pointer and the window manager's own frame.
#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "Support/Xdotool.h"
#include "Velmarin/Actions/MarkupCanvas.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Presentation/AppLocalizer.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace tolvex {
namespace {

using namespace testing;

MarkupEditorWindow* shownEditor()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* editor = dynamic_cast<MarkupEditorWindow*>(widget); editor && editor->isVisible())
            return editor;
    }
    return nullptr;
}

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

QPushButton* button(QWidget* window, MessageKey key)
{
    for (QPushButton* candidate : window->findChildren<QPushButton*>()) {
        if (candidate->text() == text(key))
            return candidate;
    }
    return nullptr;
}

QStringList at(const QPoint& global)
{
    return {QString::number(global.x()), QString::number(global.y())};
}

// One run, so the click comes after the move without waiting for motion,
// which never comes when the pointer is there already.
bool clickAt(const QPoint& global)
{
    return xdotool(QStringList{QStringLiteral("mousemove")} + at(global)
        + QStringList{QStringLiteral("click"), QStringLiteral("1")});
}

bool key(const QString& keys)
{
    return xdotool({QStringLiteral("key"), keys});
}

// A white photo of the given size as a material, and markup sessions on it
// in our editor.
struct PhotoMarkup {
    explicit PhotoMarkup(QSize size)
    {
        QImage photo(size, QImage::Format_RGB32);
        photo.fill(Qt::white);
        id = fixture.add(test::encodeImage(photo, "png"), MaterialKind::image, QStringLiteral("png")).id;
        fixture.start(&markup);
        markup.privacyLine = fixture.line.get();
    }

    // Starts a session and waits until its editor is on screen, in its frame,
    // and has the keyboard.
    MarkupEditorWindow* open()
    {
        EXPECT_FALSE(ActionsFixture::attempt(fixture.actions->markup(id)));
        MarkupEditorWindow* editor = nullptr;
        const bool shown = waitUntil(
            [&] {
                editor = shownEditor();
                return editor && editor->windowHandle() && editor->windowHandle()->isExposed()
                    && editor->frameGeometry() != editor->geometry() && editor->isActiveWindow();
            },
            60000);
        if (!shown && editor)
            ADD_FAILURE() << "exposed " << (editor->windowHandle() && editor->windowHandle()->isExposed()) << " framed "
                          << (editor->frameGeometry() != editor->geometry()) << " active " << editor->isActiveWindow();
        return shown ? editor : nullptr;
    }

    // A stroke across the middle of the picture, drawn with the pointer.
    static bool stroke(MarkupEditorWindow* editor)
    {
        MarkupCanvas* canvas = editor->canvas();
        const qsizetype before = canvas->marks().size();
        const QSizeF size = canvas->image().size();
        const auto point = [&](qreal x) {
            return canvas->mapToGlobal(canvas->toWidget({size.width() * x, size.height() / 2}).toPoint());
        };
        if (!xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("--sync")} + at(point(0.2)))
            || !xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}))
            return false;
        for (const qreal x : {0.4, 0.6, 0.8}) {
            if (!xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("--sync")} + at(point(x))))
                return false;
        }
        return xdotool({QStringLiteral("mouseup"), QStringLiteral("1")})
            && waitUntil([&] { return canvas->marks().size() == before + 1; });
    }

    qsizetype versions() const { return fixture.line->snapshot->findMaterial(id)->versions.size(); }

    ActionsFixture fixture;
    Markup markup;
    QUuid id;
};

// Answers every question the editor asks, as the user would: with a key
// (Return for the default answer), or a click on Discard. The question runs
// its own event loop, so the answer comes from a timer that runs inside it.
class DiscardAnswerer {
public:

    DiscardAnswerer()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start();
    }

    // A key to press, or none to click Discard.
    QString answer;
    // The headline and the default button of each question answered.
    QStringList asked;
    QStringList defaults;

private:
    void look()
    {
        if (answering_)
            return;
        QMessageBox* question = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible() && box != answered_)
                question = box;
        }
        if (!question || !question->isActiveWindow())
            return;
        answering_ = true;
        answered_ = question;
        asked << question->text();
        defaults << (question->defaultButton() ? question->defaultButton()->text() : QString());
        if (!answer.isEmpty()) {
            key(answer);
        } else if (QPushButton* discard = button(question, MessageKey::detailDiscard)) {
            clickAt(discard->mapToGlobal(discard->rect().center()));
        }
        answering_ = false;
    }

    QTimer timer_;
    bool answering_ = false;
    QPointer<QMessageBox> answered_;
};

// A 6000 x 4000 photo opens in the editor; a stroke drawn across it on the
// scaled view is saved as a 6000 x 4000 markup version with the stroke where
// it was drawn, in the photo's own pixels.
TEST(MarkupX11Tests, APhotoIsMarkedUpAtItsFullSize)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    PhotoMarkup photo(QSize(6000, 4000));
    MarkupEditorWindow* editor = photo.open();
    ASSERT_TRUE(editor);
    MarkupCanvas* canvas = editor->canvas();
    ASSERT_EQ(canvas->image().size(), QSize(6000, 4000));
    const qreal scale = canvas->toWidget({1, 0}).x() - canvas->toWidget({0, 0}).x();
    ASSERT_GT(scale, 0);
    ASSERT_LT(scale, 1) << "the photo is shown scaled";

    const QPointF from(1200, 2000), to(4800, 2000);
    ASSERT_TRUE(PhotoMarkup::stroke(editor));
    const qreal penWidth = canvas->penWidth;

    button(editor, MessageKey::saveCopy)->click();
    ASSERT_TRUE(waitUntil([&] { return photo.versions() == 2; }, 120000));
    const MaterialRecord record = *photo.fixture.line->snapshot->findMaterial(photo.id);
    EXPECT_EQ(record.versions.last().kind, VersionKind::markup);
    EXPECT_EQ(record.activeVersionID, record.versions.last().id);
    const QImage saved(waitForResult(photo.fixture.store->payloadURL(photo.id)).toLocalFile());
    ASSERT_EQ(saved.size(), QSize(6000, 4000));

    // The stroke is as wide on the photo as the chosen width on screen; a
    // pointer position is known to a screen pixel, a few photo pixels.
    const qreal half = penWidth / scale / 2 + 2;
    const qreal slack = 2 / scale;
    const QImage pixels = saved.convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if ((line[x] & 0xFFFFFF) != 0xFFFFFF)
                box |= QRect(x, y, 1, 1);
        }
    }
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LE(std::abs(box.left() - (from.x() - half)), slack) << box.left();
    EXPECT_LE(std::abs(box.right() - (to.x() + half)), slack) << box.right();
    EXPECT_LE(std::abs(box.top() - (from.y() - half)), slack) << box.top();
    EXPECT_LE(std::abs(box.bottom() - (from.y() + half)), slack) << box.bottom();
    EXPECT_NE(saved.pixel(3000, 2000) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_FALSE(photo.markup.isEditing());

}

// A large photo opens in a window that lies, title bar included, on the
// screen's available area, centred there.
TEST(MarkupX11Tests, ALargePhotoOpensFittedAndCentred)
{
    PhotoMarkup photo(QSize(3000, 4000));
    MarkupEditorWindow* editor = photo.open();
    ASSERT_TRUE(editor);
    const QRect available = editor->screen()->availableGeometry();
    const QRect frame = editor->frameGeometry();
    const auto show = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
    };
    EXPECT_TRUE(available.contains(frame)) << show(frame) << " on " << show(available);
    // The frame's size is known only once the window manager framed it; the
    // window is placed with an allowance for it.
    const QPoint off = frame.center() - available.center();
    EXPECT_LE(std::abs(off.x()), 20) << off.x();
    EXPECT_LE(std::abs(off.y()), 20) << off.y();
    editor->cancelEditing();
    EXPECT_TRUE(waitUntil([&] { return !photo.markup.isEditing(); }));
}

// Leaving the editor with marks asks whether to discard them, with keeping
// them as the default: Escape, the Cancel button and the title bar's close
// button alike. Keeping leaves the window and its marks; discarding ends the
// session with cancel. With nothing drawn, or everything undone, it closes
// without a question.
TEST(MarkupX11Tests, MarksAreDiscardedOnlyWhenTheUserSaysSo)
{
    PhotoMarkup photo(QSize(3000, 2000));
    DiscardAnswerer answerer;
    // How each way out is answered with keeping the marks: a second Escape
    // must not discard what the first one asked about.
    const struct {
        const char* name;
        std::function<bool(MarkupEditorWindow*)> leave;
        QString keep;
    } ways[] = {
        {"escape", [](MarkupEditorWindow*) { return key(QStringLiteral("Escape")); }, QStringLiteral("Escape")},
        {"cancel button",
            [](MarkupEditorWindow* editor) {
                QPushButton* cancel = button(editor, MessageKey::cancel);
                return cancel && clickAt(cancel->mapToGlobal(cancel->rect().center()));
            },
            QStringLiteral("Return")},
        {"title bar",
            [](MarkupEditorWindow* editor) {
                const QString id = QStringLiteral("0x%1").arg(editor->winId(), 0, 16);
                const QStringList close{QStringLiteral("-i"), QStringLiteral("-c"), id};
                return QProcess::execute(QStringLiteral("wmctrl"), close) == 0;
            },
            QStringLiteral("Return")},
    };
    const auto closed = [&] { return !photo.markup.isEditing() && !shownEditor(); };

    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        QPointer<MarkupEditorWindow> editor = photo.open();
        ASSERT_TRUE(editor);
        ASSERT_TRUE(way.leave(editor));
        EXPECT_TRUE(waitUntil(closed)) << "nothing drawn closes at once";

        editor = photo.open();
        ASSERT_TRUE(editor);
        ASSERT_TRUE(PhotoMarkup::stroke(editor));
        answerer.answer = way.keep;
        ASSERT_TRUE(way.leave(editor));
        ASSERT_TRUE(waitUntil([&] { return answerer.asked.size() == 1; })) << "no question";
        EXPECT_EQ(answerer.asked.takeFirst(), text(MessageKey::markupDiscardTitle));
        EXPECT_EQ(answerer.defaults.takeFirst(), text(MessageKey::cancel));
        ASSERT_TRUE(waitUntil([&] { return !QApplication::activeModalWidget(); }));
        ASSERT_TRUE(editor && editor->isVisible());
        EXPECT_EQ(editor->canvas()->marks().size(), 1);
        EXPECT_TRUE(photo.markup.isEditing());

        answerer.answer.clear();
        ASSERT_TRUE(waitUntil([&] { return editor->isActiveWindow(); }));
        ASSERT_TRUE(way.leave(editor));
        EXPECT_TRUE(waitUntil(closed));
        EXPECT_EQ(answerer.asked.size(), 1);
        answerer.asked.clear();
        answerer.defaults.clear();
        EXPECT_EQ(photo.versions(), 1);
    }

    // Drawn and undone: nothing to lose.
    MarkupEditorWindow* editor = photo.open();
    ASSERT_TRUE(editor);
    ASSERT_TRUE(PhotoMarkup::stroke(editor));
    ASSERT_TRUE(key(QStringLiteral("ctrl+z")));
    ASSERT_TRUE(waitUntil([&] { return editor->canvas()->marks().isEmpty(); }));
    ASSERT_TRUE(key(QStringLiteral("Escape")));
    EXPECT_TRUE(waitUntil(closed));
    EXPECT_TRUE(answerer.asked.isEmpty());
}

} // namespace
} // namespace tolvex
