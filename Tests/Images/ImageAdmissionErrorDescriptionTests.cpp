#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Texts/ResourceBundle.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace tolvex;

namespace {

// The user's language is read from the environment when the process starts,
// so each language is tried in a child run of this same executable.
int runChildWithLanguage(const QString& language, const QString& expectedTable)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANGUAGE"), language);
    environment.insert(QStringLiteral("LC_ALL"), language + QStringLiteral(".UTF-8"));
    environment.insert(QStringLiteral("TOLVEX_EXPECTED_TABLE"), expectedTable);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=ImageAdmissionErrorDescriptionChild.*"),
            QStringLiteral("--gtest_also_run_disabled_tests")});
    if (!child.waitForFinished(60000))
        return -1;
    return child.exitCode();
}

} // namespace

TEST(ImageAdmissionErrorDescriptionTest, SpeaksTheUsersLanguageAndFallsBackToEnglish)
{
    EXPECT_EQ(runChildWithLanguage(QStringLiteral("es_MX"), QStringLiteral("es")), 0);
    EXPECT_EQ(runChildWithLanguage(QStringLiteral("zh_TW"), QStringLiteral("zh-Hans")), 0);
    EXPECT_EQ(runChildWithLanguage(QStringLiteral("fr_FR"), QStringLiteral("en")), 0);
}

TEST(ImageAdmissionErrorDescriptionChild, DISABLED_MatchesTheExpectedTable)
{
    const QString table = qEnvironmentVariable("TOLVEX_EXPECTED_TABLE");
    ASSERT_FALSE(table.isEmpty());
    const auto core = ResourceBundle::core();
    ASSERT_TRUE(core.has_value());
    const auto language = core->languageBundle(table);
    ASSERT_TRUE(language.has_value());
    const auto invalid = language->localizedString(QStringLiteral("image.invalid"));
    const auto tooLarge = language->localizedString(QStringLiteral("image.pixelLimit"));
    ASSERT_TRUE(invalid && tooLarge);
    EXPECT_EQ(ImageAdmissionError::invalidImage().errorDescription(), *invalid);
    EXPECT_EQ(ImageAdmissionError::pixelBudgetExceeded().errorDescription(), *tooLarge);
    EXPECT_NE(*invalid, *tooLarge);
}
