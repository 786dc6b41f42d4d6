#include "Velmarin/Platform/SettingsUserDefaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// A flag written by one run must read back as a Boolean in the next, although
// the settings file stores it as text.
TEST(SettingsUserDefaultsTests, FlagsSurviveANewInstance)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("defaults.conf"));
    {
        SettingsUserDefaults defaults(file);
        EXPECT_FALSE(defaults.boolValue(QStringLiteral("redRopeEntryHintDismissed")));
        defaults.setValue(QStringLiteral("redRopeEntryHintDismissed"), true);
        defaults.setValue(QStringLiteral("soundOff"), false);
    }
    SettingsUserDefaults reopened(file);
    EXPECT_TRUE(reopened.boolValue(QStringLiteral("redRopeEntryHintDismissed")));
    EXPECT_FALSE(reopened.boolValue(QStringLiteral("soundOff")));
    EXPECT_TRUE(reopened.value(QStringLiteral("soundOff")).isValid());
}

} // namespace
} // namespace tolvex
