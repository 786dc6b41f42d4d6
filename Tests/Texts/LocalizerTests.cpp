#include "TolvexCore/Texts/Localizer.h"
#include "TolvexCore/Texts/ResourceBundle.h"

#include "Texts/BundleFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace tolvex;
using fixture::TemporaryBundle;
using fixture::table;

TEST(LocalizerTest, ChoosesTheLanguageByPlainPrefix)
{
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("zh_CN")), QStringLiteral("zh-Hans"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("ZH-hans")), QStringLiteral("zh-Hans"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("zh-Hant-TW")), QStringLiteral("zh-Hans"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("zh_TW")), QStringLiteral("zh-Hans"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("zh-HK")), QStringLiteral("zh-Hans"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("es-MX")), QStringLiteral("es"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("ES_es")), QStringLiteral("es"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("fr-FR")), QStringLiteral("en"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral("english")), QStringLiteral("en"));
    EXPECT_EQ(Localizer::languageCode(QString()), QStringLiteral("en"));
    EXPECT_EQ(Localizer::languageCode(QStringLiteral(" es")), QStringLiteral("en"));

    EXPECT_EQ(Localizer(QStringLiteral("es-MX"), ResourceBundle(QStringLiteral("/nonexistent"))).language(),
        QStringLiteral("es"));
}

TEST(LocalizerTest, FallsBackFromThePreferredLanguageToEnglishToTheKey)
{
    TemporaryBundle bundle;
    bundle.addLanguage(QStringLiteral("en"),
        table({{"image.invalid", "Not an image."}, {"image.pixelLimit", "Too many pixels."},
            {"feedback.busy", "Busy."}}));
    bundle.addLanguage(QStringLiteral("zh-Hans"), table({{"image.invalid", "zh invalid"}, {"feedback.busy", ""}}));
    const ResourceBundle base(bundle.path());

    // No Spanish folder: a Spanish user reads English.
    const Localizer spanish(QStringLiteral("es-MX"), base);
    ASSERT_TRUE(spanish.preferred() && spanish.english());
    EXPECT_EQ(spanish.preferred()->path(), spanish.english()->path());
    EXPECT_EQ(spanish.string(MessageKey::imageInvalid), QStringLiteral("Not an image."));

    const Localizer chinese(QStringLiteral("zh_TW"), base);
    EXPECT_EQ(chinese.preferred()->path(), base.languageFolderPath(QStringLiteral("zh-Hans")));
    EXPECT_EQ(chinese.string(MessageKey::imageInvalid), QStringLiteral("zh invalid"));
    // Missing in Chinese, present in English.
    EXPECT_EQ(chinese.string(MessageKey::imagePixelLimit), QStringLiteral("Too many pixels."));
    // An empty text counts as missing.
    EXPECT_EQ(chinese.string(MessageKey::feedbackBusy), QStringLiteral("Busy."));
    // Missing everywhere: the raw key, never an empty text.
    EXPECT_EQ(chinese.string(MessageKey::contentHidden), QStringLiteral("privacy.hidden"));
    EXPECT_EQ(spanish.string(MessageKey::privacyHide), QStringLiteral("privacyHide"));
}

TEST(LocalizerTest, UsesTheBaseFolderWhenEnglishIsMissingAndSurvivesBrokenTables)
{
    TemporaryBundle bundle;
    bundle.addBaseTable(table({{"image.invalid", "base text"}}));
    bundle.addLanguage(QStringLiteral("es"), "\"image.invalid\" = \"sin cerrar;");
    const ResourceBundle base(bundle.path());

    const Localizer english(QStringLiteral("en"), base);
    ASSERT_TRUE(english.english());
    EXPECT_EQ(english.english()->path(), base.path());
    EXPECT_EQ(english.string(MessageKey::imageInvalid), QStringLiteral("base text"));

    // A malformed Spanish table reads as empty, not as an error.
    const Localizer spanish(QStringLiteral("es"), base);
    EXPECT_EQ(spanish.preferred()->path(), base.languageFolderPath(QStringLiteral("es")));
    EXPECT_EQ(spanish.string(MessageKey::imageInvalid), QStringLiteral("base text"));

    // No bundle anywhere on disk: every text is its key.
    const Localizer nowhere(QStringLiteral("zh"), ResourceBundle(QStringLiteral("/nonexistent/Tolvex.bundle")));
    EXPECT_EQ(nowhere.string(MessageKey::imageInvalid), QStringLiteral("image.invalid"));
    EXPECT_EQ(nowhere.string(MessageKey::retryLater), QStringLiteral("markup.retryLater"));
}

TEST(LocalizerTest, SharedLocalizerCanBeReplaced)
{
    TemporaryBundle bundle;
    bundle.addLanguage(QStringLiteral("en"), table({{"app.quit", "Quit"}}));
    bundle.addLanguage(QStringLiteral("es"), table({{"app.quit", "Salir"}}));

    const Localizer before = Localizer::shared();
    Localizer::setShared(Localizer(QStringLiteral("es"), ResourceBundle(bundle.path())));
    EXPECT_EQ(Localizer::shared().string(MessageKey::quit), QStringLiteral("Salir"));
    EXPECT_EQ(Localizer::shared().language(), QStringLiteral("es"));
    Localizer::setShared(before);
    EXPECT_EQ(Localizer::shared().language(), before.language());

    EXPECT_FALSE(Localizer::preferredLanguageIdentifier().isEmpty());
}

TEST(ResourceBundleTest, OpensOnlyLanguageFoldersThatAreFolders)
{
    TemporaryBundle bundle;
    bundle.addLanguage(QStringLiteral("en"), table({{"k", "v"}}));
    fixture::writeFile(bundle.path() + QStringLiteral("/fr.lproj"), "not a folder");
    const ResourceBundle base(bundle.path());

    const auto english = base.languageBundle(QStringLiteral("en"));
    ASSERT_TRUE(english);
    EXPECT_EQ(english->path(), bundle.path() + QStringLiteral("/en.lproj"));
    EXPECT_EQ(english->localizedString(QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_EQ(english->localizedString(QStringLiteral("k"), QStringLiteral("Other")), std::nullopt);
    EXPECT_EQ(english->localizedString(QStringLiteral("missing")), std::nullopt);
    EXPECT_FALSE(base.languageBundle(QStringLiteral("fr")));
    EXPECT_FALSE(base.languageBundle(QStringLiteral("es")));
    EXPECT_FALSE(base.languageBundle(QString()));
    EXPECT_FALSE(base.languageBundle(QStringLiteral("../Test.bundle/en")));
    // The base folder has no table of its own.
    EXPECT_EQ(base.localizedString(QStringLiteral("k")), std::nullopt);
    EXPECT_EQ(base.stringTable(), nullptr);
}

TEST(ResourceBundleTest, KeepsATableOnceReadAndSharesItAcrossThreads)
{
    TemporaryBundle bundle;
    QByteArray contents;
    for (int i = 0; i < 500; ++i)
        contents += "\"key" + QByteArray::number(i) + "\" = \"value" + QByteArray::number(i) + "\";\n";
    bundle.addLanguage(QStringLiteral("en"), contents);
    const ResourceBundle english(bundle.path() + QStringLiteral("/en.lproj"));

    // Several threads make the first lookup at once.
    std::atomic<int> matches = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&english, &matches, t] {
            for (int i = 0; i < 500; ++i) {
                const QString suffix = QString::number((i * 7 + t) % 500);
                if (english.localizedString(QStringLiteral("key") + suffix) == QStringLiteral("value") + suffix)
                    ++matches;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(matches.load(), 2000);

    // Read once: the texts stay with the bundle (and its copies) after the file is gone.
    const ResourceBundle copy = english;
    ASSERT_TRUE(QFile::remove(english.tablePath()));
    EXPECT_EQ(copy.localizedString(QStringLiteral("key7")), QStringLiteral("value7"));
    // A new bundle over the same folder reads the disk again.
    EXPECT_EQ(ResourceBundle(english.path()).localizedString(QStringLiteral("key7")), std::nullopt);
}

TEST(ResourceBundleTest, FindsTheCoreBundleBesideTheExecutableThenInTheInstalledLayout)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString bin = root.filePath(QStringLiteral("bin"));
    const QString installed = root.filePath(QStringLiteral("share/tolvex/Tolvex_TolvexCore.bundle"));
    const QString beside = bin + QStringLiteral("/Tolvex_TolvexCore.bundle");

    const QStringList candidates = ResourceBundle::coreBundleCandidates(bin);
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_EQ(candidates[0], beside);
    EXPECT_EQ(candidates[1], installed);
    EXPECT_TRUE(ResourceBundle::coreBundleCandidates(QString()).isEmpty());

    ASSERT_TRUE(QDir().mkpath(bin));
    EXPECT_FALSE(ResourceBundle::locateCore(bin));
    // A file of that name is not a bundle.
    fixture::writeFile(beside, "file");
    EXPECT_FALSE(ResourceBundle::locateCore(bin));
    ASSERT_TRUE(QFile::remove(beside));

    ASSERT_TRUE(QDir().mkpath(installed));
    ASSERT_TRUE(ResourceBundle::locateCore(bin));
    EXPECT_EQ(ResourceBundle::locateCore(bin)->path(), installed);

    ASSERT_TRUE(QDir().mkpath(beside));
    EXPECT_EQ(ResourceBundle::locateCore(bin)->path(), beside);
}

TEST(ResourceBundleTest, TheTestsFindTheStagedCoreBundle)
{
    const auto core = ResourceBundle::core();
    ASSERT_TRUE(core) << "no core bundle beside " << ResourceBundle::executableDirectory().toStdString();
    EXPECT_EQ(core->path(), ResourceBundle::executableDirectory() + QStringLiteral("/Tolvex_TolvexCore.bundle"));
    EXPECT_TRUE(core->languageBundle(QStringLiteral("en")));
    // A localizer without an explicit bundle reads the core bundle.
    EXPECT_NE(Localizer(QStringLiteral("en")).string(MessageKey::imageInvalid), QStringLiteral("image.invalid"));
}
