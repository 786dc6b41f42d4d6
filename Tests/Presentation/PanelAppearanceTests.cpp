#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Presentation/PanelSurface.h"

#include <QTextBlock>
#include <QTextEdit>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

QPalette paletteWith(const QColor& window, const QColor& text)
{
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

const QPalette lightPalette = paletteWith(QColor(240, 240, 240), QColor(20, 20, 20));
const QPalette darkPalette = paletteWith(QColor(30, 30, 30), QColor(230, 230, 230));

TEST(PanelAppearanceTests, SurfaceRepaintsInTheNewPaperAfterAPaletteChange)
{
    PanelSurface surface(QRect(0, 0, 40, 30));
    surface.setPalette(lightPalette);
    EXPECT_EQ(surface.grab().toImage().pixelColor(5, 5).rgb(), PanelAppearance::paper(lightPalette).rgb());
    surface.setPalette(darkPalette);
    EXPECT_EQ(surface.grab().toImage().pixelColor(5, 5).rgb(), PanelAppearance::paper(darkPalette).rgb());
    EXPECT_TRUE(surface.testAttribute(Qt::WA_OpaquePaintEvent));
}

TEST(PanelAppearanceTests, EditorStylingTwiceLeavesOneSetting)
{
    QTextEdit editor;
    editor.setPlainText(QStringLiteral("one\ntwo"));
    PanelAppearance::editor(&editor);
    PanelAppearance::editor(&editor);
    for (QTextBlock block = editor.document()->begin(); block.isValid(); block = block.next()) {
        EXPECT_EQ(block.blockFormat().lineHeight(), 150);
        EXPECT_EQ(block.blockFormat().lineHeightType(), QTextBlockFormat::ProportionalHeight);
    }
    EXPECT_EQ(editor.textCursor().blockFormat().lineHeight(), 150);
    EXPECT_EQ(editor.font().pointSizeF(), 17);
    EXPECT_EQ(editor.document()->documentMargin(), 24);
    // Typing on a new line keeps the paragraph style.
    editor.moveCursor(QTextCursor::End);
    editor.textCursor().insertBlock();
    EXPECT_EQ(editor.document()->lastBlock().blockFormat().lineHeight(), 150);
}

} // namespace
} // namespace tolvex
