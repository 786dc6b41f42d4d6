#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Presentation/ProgramIcon.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(ProgramIconTests, TheSvgIsTheInstalledOneElseTheOneBesideTheExecutable)
{
    const QString name = QString::fromLatin1(ProgramIcon::appID) + QStringLiteral(".svg");
    const QString installed = QStringLiteral("share/icons/hicolor/scalable/apps/") + name;
    const QString staged = QStringLiteral("bin/") + name;
    const struct {
        const char* name;
        QStringList files;
        QString expected;
    } cases[] = {
        {"installed", {installed}, installed},
        {"build tree", {staged}, staged},
        {"both", {installed, staged}, installed},
        {"neither", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir prefix;
        ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        for (const QString& file : c.files) {
            ASSERT_TRUE(QDir(prefix.path()).mkpath(QFileInfo(file).path()));
            QFile svg(prefix.filePath(file));
            ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
        }
        const QString found = ProgramIcon::svgPath(prefix.filePath(QStringLiteral("bin")));
        EXPECT_EQ(found, c.expected.isEmpty() ? QString() : QDir::cleanPath(prefix.filePath(c.expected)));
    }
}

// A tray may be light, grey or dark: at tray size the icon holds colours
// that stand out from each by the 3:1 asked of graphics (the pale symbolic
// paperclip did not).
TEST(ProgramIconTests, TheIconStandsOutOnLightAndDarkPanels)
{
    const QImage icon = ProgramIcon::drawn(22).toImage();
    for (const QColor panel : {QColor(0xf2, 0xf2, 0xf2), QColor(0x80, 0x80, 0x80), QColor(0x20, 0x20, 0x20)}) {
        SCOPED_TRACE(panel.name().toStdString());
        double strongest = 1;
        for (int y = 0; y < icon.height(); ++y) {
            for (int x = 0; x < icon.width(); ++x) {
                const QColor pixel = icon.pixelColor(x, y);
                if (pixel.alpha() == 255)
                    strongest = std::max(strongest, PanelAppearance::contrast(panel, pixel));
            }
        }
        EXPECT_GE(strongest, 3.0);
    }
}

} // namespace
} // namespace tolvex
