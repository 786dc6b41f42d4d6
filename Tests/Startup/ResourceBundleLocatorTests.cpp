#include "QtPrinting.h"
#include "StartupFixtures.h"

#include "TolvexCore/Texts/MessageKey.h"
#include "TolvexCore/Startup/PathResolution.h"
#include "TolvexCore/Startup/ResourceBundleLocator.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

using Code = ResourceBundleLocator::ResourceError::Code;

// The error resolve() reports for the tree, or nothing when it accepts it.
std::optional<Code> resolveError(const InstalledTree& tree)
{
    try {
        ResourceBundleLocator::resolve(tree.appBundle());
    } catch (const ResourceBundleLocator::ResourceError& error) {
        return error.code();
    }
    return std::nullopt;
}

std::optional<Code> validateError(const QString& bundlePath)
{
    try {
        ResourceBundleLocator::validate(ResourceBundle(bundlePath));
    } catch (const ResourceBundleLocator::ResourceError& error) {
        return error.code();
    }
    return std::nullopt;
}

} // namespace

TEST(ResourceBundleLocatorTest, BuiltAndInstalledBundlesPass)
{
    // A build-tree program takes the bundle staged beside it.
    const std::optional<ResourceBundle> bundled = ResourceBundleLocator::bundledResources();
    ASSERT_TRUE(bundled.has_value());
    EXPECT_EQ(PathResolution::resolvingSymlinks(bundled->path()), PathResolution::resolvingSymlinks(builtBundlePath()));
    EXPECT_EQ(ResourceBundleLocator::resolve(AppBundle::main()).path(), bundled->path());
    EXPECT_EQ(validateError(builtBundlePath()), std::nullopt);

    const InstalledTree tree;
    ASSERT_TRUE(tree.isValid());
    EXPECT_EQ(ResourceBundleLocator::resolve(tree.appBundle()).path(), tree.bundle());
    EXPECT_EQ(ResourceBundleLocator::requiredLanguages(),
        (QStringList{QStringLiteral("en"), QStringLiteral("es"), QStringLiteral("zh-Hans")}));

    // Extra languages and extra keys are allowed.
    copyTree(tree.bundle() + QStringLiteral("/en.lproj"), tree.bundle() + QStringLiteral("/fr.lproj"));
    editTable(tree.table(QStringLiteral("es")),
        [](QHash<QString, QString>& entries) { entries.insert(QStringLiteral("not.a.message"), QString()); });
    EXPECT_EQ(resolveError(tree), std::nullopt);
}

TEST(ResourceBundleLocatorTest, LinkedOrAbsentBundleOfAnInstalledProgramIsMissing)
{
    {
        // share/tolvex linked to a complete copy elsewhere.
        const InstalledTree tree;
        copyTree(tree.resources(), tree.scratch(QStringLiteral("tolvex")));
        ASSERT_TRUE(QDir(tree.resources()).removeRecursively());
        makeSymlink(tree.scratch(QStringLiteral("tolvex")), tree.resources());
        EXPECT_TRUE(tree.appBundle().isApplication());
        EXPECT_EQ(resolveError(tree), Code::missing);
    }
    {
        // "share" itself linked.
        const InstalledTree tree;
        const QString elsewhere = tree.prefix() + QStringLiteral("/elsewhere-share");
        ASSERT_TRUE(QDir().rename(tree.prefix() + QStringLiteral("/share"), elsewhere));
        makeSymlink(elsewhere, tree.prefix() + QStringLiteral("/share"));
        EXPECT_EQ(resolveError(tree), Code::missing);
    }
    {
        // The bundle linked to a complete copy elsewhere.
        const InstalledTree tree;
        copyTree(tree.bundle(), tree.scratch(QStringLiteral("bundle")));
        ASSERT_TRUE(QDir(tree.bundle()).removeRecursively());
        makeSymlink(tree.scratch(QStringLiteral("bundle")), tree.bundle());
        EXPECT_EQ(resolveError(tree), Code::missing);
        // The copy itself is complete: only where it lies is wrong.
        EXPECT_EQ(validateError(tree.scratch(QStringLiteral("bundle"))), std::nullopt);
    }
    {
        // No bundle, or a plain file in its place.
        const InstalledTree tree;
        ASSERT_TRUE(QDir(tree.bundle()).removeRecursively());
        EXPECT_EQ(resolveError(tree), Code::missing);
        writeFile(tree.bundle(), "not a folder");
        EXPECT_EQ(resolveError(tree), Code::missing);
    }
}

TEST(ResourceBundleLocatorTest, RedirectedLanguageFoldersAndTablesAreIncomplete)
{
    {
        // A linked language folder, even to a valid copy inside the bundle.
        const InstalledTree tree;
        const QString english = tree.bundle() + QStringLiteral("/en.lproj");
        ASSERT_TRUE(QDir().rename(english, tree.bundle() + QStringLiteral("/english.lproj")));
        makeSymlink(QStringLiteral("english.lproj"), english);
        EXPECT_EQ(resolveError(tree), Code::incomplete);
        EXPECT_EQ(validateError(tree.bundle()), Code::incomplete);
    }
    {
        // A linked table, even to an identical file inside the bundle.
        const InstalledTree tree;
        const QString table = tree.table(QStringLiteral("es"));
        ASSERT_TRUE(QFile::rename(table, tree.bundle() + QStringLiteral("/es.strings")));
        makeSymlink(QStringLiteral("../es.strings"), table);
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
    {
        // A language folder only below a subfolder of the bundle.
        const InstalledTree tree;
        const QString chinese = tree.bundle() + QStringLiteral("/zh-Hans.lproj");
        ASSERT_TRUE(QDir().mkpath(tree.bundle() + QStringLiteral("/Nested")));
        ASSERT_TRUE(QDir().rename(chinese, tree.bundle() + QStringLiteral("/Nested/zh-Hans.lproj")));
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
    {
        // A named pipe in place of a table is refused without being opened.
        const InstalledTree tree;
        const QString table = tree.table(QStringLiteral("en"));
        ASSERT_TRUE(QFile::remove(table));
        ASSERT_EQ(::mkfifo(QFile::encodeName(table).constData(), 0600), 0);
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
}

TEST(ResourceBundleLocatorTest, EveryMessageKeyNeedsATextInEveryLanguage)
{
    const QString someKey = messageKeyString(allMessageKeys().back());
    {
        const InstalledTree tree;
        editTable(tree.table(QStringLiteral("es")), [&](QHash<QString, QString>& entries) { entries.remove(someKey); });
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
    {
        const InstalledTree tree;
        editTable(tree.table(QStringLiteral("zh-Hans")),
            [](QHash<QString, QString>& entries) { entries[messageKeyString(allMessageKeys().front())] = QString(); });
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
    {
        // A table that does not parse.
        const InstalledTree tree;
        QByteArray text = readFile(tree.table(QStringLiteral("en")));
        text += "\n\"unterminated = ";
        writeFile(tree.table(QStringLiteral("en")), text);
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
    {
        // A missing table, and a missing language.
        const InstalledTree tree;
        ASSERT_TRUE(QFile::remove(tree.table(QStringLiteral("en"))));
        EXPECT_EQ(resolveError(tree), Code::incomplete);
        ASSERT_TRUE(QDir(tree.bundle() + QStringLiteral("/en.lproj")).removeRecursively());
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
    {
        // An empty table file.
        const InstalledTree tree;
        writeFile(tree.table(QStringLiteral("es")), QByteArray());
        EXPECT_EQ(resolveError(tree), Code::incomplete);
    }
}
