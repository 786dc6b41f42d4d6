#include "Windows/SettingsTesting.h"

#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Windows/IntakeSettingsView.h"
#include "Velmarin/Windows/SettingsIntakePage.h"
#include "Velmarin/Windows/SettingsStoragePage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QWindow>

#include <gtest/gtest.h>

namespace tolvex::testing {
namespace {

bool clickOn(QWidget* target, std::optional<QPoint> at = std::nullopt)
{
    const QPoint centre = target->mapToGlobal(at.value_or(target->rect().center()));
    return QProcess::execute(QStringLiteral("xdotool"),
               {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(centre.x()),
                   QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("1")})
        == 0;
}

bool exposed(QWidget* window)
{
    return waitUntil([&] { return window->windowHandle() && window->windowHandle()->isExposed(); });
}

TEST(SettingsWindowX11, AClickOnTheImagesSwitchSavesItAndTheStoragePageMeasuresTheRoot)
{
    SettingsRig rig;
    write(rig.path("Materials/A/payload.bin"), QByteArray(2500, 'x'));
    rig.start(true);
    rig.controller->present(0);
    QWidget* window = rig.controller->window();
    ASSERT_TRUE(exposed(window));
    IntakeSettingsView& view = *rig.controller->settingsContent();
    QPushButton* images = view.intakePage()->imagesToggle();
    ASSERT_TRUE(images->isChecked());

    ASSERT_TRUE(clickOn(images));
    ASSERT_TRUE(waitUntil([&] { return rig.model->didSave() || rig.model->failed(); }));
    EXPECT_FALSE(rig.model->failed());
    EXPECT_FALSE(images->isChecked());
    QFile stored(rig.path("clipboard-settings.json"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(stored.readAll()).object();
    EXPECT_FALSE(saved.value("images").toBool(true));
    EXPECT_TRUE(saved.value("text").toBool(false));

    ASSERT_TRUE(clickOn(view.picker(), view.picker()->tabRect(1).center()));
    ASSERT_TRUE(waitUntil([&] { return rig.model->page() == 1; }));
    rig.controller->present(1); // measures again, as opening the window does
    SettingsStoragePage& storage = *view.storagePage();
    ASSERT_TRUE(waitUntil([&] { return storage.showsUsage(); }));
    EXPECT_TRUE(storage.isVisible());
    EXPECT_EQ(storage.usageValue(0)->text(), formatByteCount(2500));
}

} // namespace
} // namespace tolvex::testing
