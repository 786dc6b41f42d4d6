#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/LineInputFeedbackLabel.h"

#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// The feedback is read against whatever the desktop shows behind the
// transparent panel: its text keeps 4.5:1 on black, white and mid grey, in
// the light and the dark appearance.
TEST(LineInputFeedbackLabelTests, TheTextStaysLegibleOnAnyBackground)
{
    const struct {
        const char* name;
        QColor window;
        QColor text;
    } appearances[] = {
        {"light", QColor(240, 240, 240), QColor(20, 20, 20)},
        {"dark", QColor(30, 30, 30), QColor(230, 230, 230)},
    };
    const QColor behind[] = {Qt::black, Qt::white, QColor(128, 128, 128), QColor(0x45, 0x63, 0x4d)};
    const QString feedback = QStringLiteral("Card taken down. You can undo this from the menu for a few seconds.");
    for (const auto& appearance : appearances) {
        for (const QColor& background : behind) {
            SCOPED_TRACE(std::string(appearance.name) + " over " + background.name().toStdString());
            QWidget desktop;
            QPalette palette = desktop.palette();
            palette.setColor(QPalette::Window, appearance.window);
            palette.setColor(QPalette::WindowText, appearance.text);
            desktop.setPalette(palette);
            desktop.resize(420, 24);
            auto* label = new LineInputFeedbackLabel(&desktop);
            label->setGeometry(0, 0, 420, 24);
            label->setFeedback(feedback);
            // What lies behind the panel is painted under the label, as the
            // compositor blends it.
            QImage shown(desktop.size(), QImage::Format_ARGB32);
            shown.fill(background);
            label->render(&shown, QPoint(), QRegion(), QWidget::DrawChildren);

            const int advance = label->fontMetrics().horizontalAdvance(label->text());
            const QColor aroundText = shown.pixelColor((420 - advance) / 2 - 4, 12);
            double strongest = 1;
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x)
                    strongest = std::max(strongest, PanelAppearance::contrast(aroundText, shown.pixelColor(x, y)));
            }
            EXPECT_GE(strongest, 4.5);
        }
    }
}

} // namespace
} // namespace tolvex
