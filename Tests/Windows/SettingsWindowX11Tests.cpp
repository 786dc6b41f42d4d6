#include "Windows/SettingsTesting.h"

#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Windows/IntakeSettingsView.h"
#include "Velmarin/Windows/SettingsIntakePage.h"
#include "Velmarin/Windows/SettingsStoragePage.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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

// The colour that covers most of a control's picture: its fill.
QColor fillOf(QWidget* control)
{
    const QImage picture = control->grab().toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            ++counts[picture.pixel(x, y)];
    }
    QRgb most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > counts.value(most))
            most = it.key();
    }
    return QColor::fromRgb(most);
}

// The contrast ratio of two colours, as accessibility guidelines measure it
// (at least 3 for the parts of a control that tell its state).
double contrast(const QColor& one, const QColor& other)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one) + 0.05;
    const double b = luminance(other) + 0.05;
    return std::max(a, b) / std::min(a, b);
}

// Every on/off control of the intake page, the Images, Text and Files
// toggles as much as the switches, shows its state by a fill that differs
// clearly between on and off, in each language.
TEST(SettingsWindowX11, EveryIntakeToggleReadsOnOrOffAtAGlance)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    const Localizer before = appLocalizer();
    const QString folder = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("settings-toggles"));
    QDir().mkpath(folder);
    for (const char* language : {"en", "es", "zh-Hans"}) {
        SCOPED_TRACE(language);
        replaceAppLocalizer(Localizer(QString::fromLatin1(language)));
        SettingsRig rig;
        rig.start(true);
        rig.controller->present(0);
        QWidget* window = rig.controller->window();
        ASSERT_TRUE(exposed(window));
        SettingsIntakePage* page = rig.controller->settingsContent()->intakePage();
        QList<QAbstractButton*> toggles;
        for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
            if (button->isCheckable() && button->isVisible())
                toggles.append(button);
        }
        ASSERT_EQ(toggles.size(), 6) << "three switches and three kinds";
        for (QAbstractButton* toggle : toggles) {
            const QString name = toggle->text().isEmpty() ? toggle->accessibleName() : toggle->text();
            SCOPED_TRACE(name.toStdString());
            const bool was = toggle->isChecked();
            toggle->setChecked(false);
            const QColor off = fillOf(toggle);
            toggle->setChecked(true);
            const QColor on = fillOf(toggle);
            toggle->setChecked(was);
            EXPECT_GE(contrast(on, off), 3.0) << "on " << on.name().toStdString() << ", off " << off.name().toStdString();
        }
        // For a person to look at: Text off between Images and Files on.
        QAbstractButton* text = page->findChildren<QPushButton*>().value(0);
        for (QPushButton* button : page->findChildren<QPushButton*>()) {
            if (button->isCheckable() && button->text() == localized(MessageKey::inputText))
                text = button;
        }
        text->setChecked(false);
        page->grab().save(QDir(folder).filePath(QString::fromLatin1(language) + QStringLiteral(".png")));
        text->setChecked(true);
    }
    replaceAppLocalizer(before);
}

} // namespace
} // namespace tolvex::testing
