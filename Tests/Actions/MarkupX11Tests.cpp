// Our markup editor on the test desktop, with a photo-sized image and a
// stroke drawn by the X server's pointer.
#include "ActionsTesting.h"

#include "Support/ImageFixtures.h"
#include "Support/Xdotool.h"
#include "Velmarin/Actions/MarkupCanvas.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Presentation/AppLocalizer.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
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

// The box around every pixel that is not white.
QRect markedBox(const QImage& image)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    QRect box;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if ((line[x] & 0xFFFFFF) != 0xFFFFFF)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// A 6000 x 4000 photo opens in the editor; a stroke drawn across it on the
// scaled view is saved as a 6000 x 4000 markup version with the stroke where
// it was drawn, in the photo's own pixels.
TEST(MarkupX11Tests, APhotoIsMarkedUpAtItsFullSize)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    ActionsFixture fixture;
    QImage photo(6000, 4000, QImage::Format_RGB32);
    photo.fill(Qt::white);
    const QUuid id = fixture.add(test::encodeImage(photo, "png"), MaterialKind::image, QStringLiteral("png")).id;
    photo = QImage();
    Markup markup;
    fixture.start(&markup);
    markup.privacyLine = fixture.line.get();

    ASSERT_FALSE(ActionsFixture::attempt(fixture.actions->markup(id)));
    MarkupEditorWindow* editor = nullptr;
    ASSERT_TRUE(waitUntil(
        [&] {
            editor = shownEditor();
            return editor && editor->windowHandle() && editor->windowHandle()->isExposed();
        },
        60000));
    MarkupCanvas* canvas = editor->canvas();
    ASSERT_EQ(canvas->image().size(), QSize(6000, 4000));
    const qreal scale = canvas->toWidget({1, 0}).x() - canvas->toWidget({0, 0}).x();
    ASSERT_GT(scale, 0);
    ASSERT_LT(scale, 1) << "the photo is shown scaled";

    const QPointF from(1200, 2000), to(4800, 2000);
    const auto at = [&](const QPointF& imagePoint) {
        const QPoint global = canvas->mapToGlobal(canvas->toWidget(imagePoint).toPoint());
        return QStringList{QString::number(global.x()), QString::number(global.y())};
    };
    ASSERT_TRUE(xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("--sync")} + at(from)));
    ASSERT_TRUE(xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
    for (int step = 1; step <= 4; ++step) {
        const QPointF point = from + (to - from) * step / 4;
        ASSERT_TRUE(xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("--sync")} + at(point)));
    }
    ASSERT_TRUE(xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    ASSERT_TRUE(waitUntil([&] { return canvas->marks().size() == 1; }));
    const qreal penWidth = canvas->penWidth;

    for (QPushButton* button : editor->findChildren<QPushButton*>()) {
        if (button->text() == appLocalizer().string(MessageKey::saveCopy))
            button->click();
    }
    ASSERT_TRUE(waitUntil([&] { return fixture.line->snapshot->findMaterial(id)->versions.size() == 2; }, 120000));
    const MaterialRecord record = *fixture.line->snapshot->findMaterial(id);
    EXPECT_EQ(record.versions.last().kind, VersionKind::markup);
    EXPECT_EQ(record.activeVersionID, record.versions.last().id);
    const QImage saved(waitForResult(fixture.store->payloadURL(id)).toLocalFile());
    ASSERT_EQ(saved.size(), QSize(6000, 4000));

    // The stroke is as wide on the photo as the chosen width on screen; a
    // pointer position is known to a screen pixel, a few photo pixels.
    const qreal half = penWidth / scale / 2 + 2;
    const qreal slack = 2 / scale;
    const QRect box = markedBox(saved);
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LE(std::abs(box.left() - (from.x() - half)), slack) << box.left();
    EXPECT_LE(std::abs(box.right() - (to.x() + half)), slack) << box.right();
    EXPECT_LE(std::abs(box.top() - (from.y() - half)), slack) << box.top();
    EXPECT_LE(std::abs(box.bottom() - (from.y() + half)), slack) << box.bottom();
    EXPECT_NE(saved.pixel(3000, 2000) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_FALSE(markup.isEditing());
}

} // namespace
} // namespace tolvex
