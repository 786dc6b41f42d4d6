#include "DevFolder.h"
#include "QtPrinting.h"

#include "TolvexCore/Startup/PathResolution.h"
#include "TolvexCore/Startup/StartupOptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tolvex;
using tolvex::testing::DevFolderEntry;

namespace {

bool refuses(const QStringList& arguments)
{
    try {
        StartupOptions::parse(arguments);
    } catch (const StartupOptions::ArgumentError& error) {
        return error.code() == StartupOptions::ArgumentError::Code::invalid;
    }
    return false;
}

QUrl realResolve(const QUrl& url)
{
    return PathResolution::resolvingSymlinks(url);
}

bool refusesRoot(const QString& value, const std::function<QUrl(const QUrl&)>& resolve = realResolve)
{
    try {
        StartupOptions::validateDevelopmentRoot(value, resolve);
    } catch (const StartupOptions::ArgumentError&) {
        return true;
    }
    return false;
}

void makeLink(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
}

} // namespace

TEST(StartupOptionsTest, GrammarTakesEachOptionOnceInEitherOrder)
{
    const DevFolderEntry root(QStringLiteral("options"));
    const QUrl rootUrl = QUrl::fromLocalFile(root.path());

    EXPECT_EQ(StartupOptions::parse({}), StartupOptions{});
    EXPECT_EQ(StartupOptions::parse({QStringLiteral("--check-resources")}), (StartupOptions{true, std::nullopt}));
    EXPECT_EQ(StartupOptions::parse({QStringLiteral("--data-root"), root.path()}), (StartupOptions{false, rootUrl}));
    EXPECT_EQ(StartupOptions::parse({QStringLiteral("--data-root"), root.path(), QStringLiteral("--check-resources")}),
        (StartupOptions{true, rootUrl}));
    EXPECT_EQ(StartupOptions::parse({QStringLiteral("--check-resources"), QStringLiteral("--data-root"), root.path()}),
        (StartupOptions{true, rootUrl}));

    EXPECT_TRUE(refuses({QStringLiteral("--check-resources"), QStringLiteral("--check-resources")}));
    EXPECT_TRUE(refuses({QStringLiteral("--data-root")}));
    EXPECT_TRUE(refuses({QStringLiteral("--check-resources"), QStringLiteral("--data-root")}));
    // Twice, even when both folders are acceptable.
    const DevFolderEntry other(QStringLiteral("options-other"));
    EXPECT_TRUE(refuses({QStringLiteral("--data-root"), root.path(), QStringLiteral("--data-root"), other.path()}));
    EXPECT_TRUE(refuses({QStringLiteral("--data-root"), root.path(), QStringLiteral("--data-root"), root.path()}));
    // The option name right after "--data-root" is its value, and no folder.
    EXPECT_TRUE(refuses({QStringLiteral("--data-root"), QStringLiteral("--check-resources")}));
    EXPECT_TRUE(refuses({QStringLiteral("--bogus")}));
    EXPECT_TRUE(refuses({QStringLiteral("-check-resources")}));
    EXPECT_TRUE(refuses({QStringLiteral("--check-resources=1")}));
    EXPECT_TRUE(refuses({root.path()}));
    EXPECT_TRUE(refuses({QString()}));
    EXPECT_TRUE(refuses({QStringLiteral("--check-resources"), QString()}));
}

TEST(StartupOptionsTest, DataRootIsOneFolderDirectlyBelowTheDevelopmentFolder)
{
    const DevFolderEntry fresh(QStringLiteral("fresh"));
    const DevFolderEntry existing(QStringLiteral("existing"));
    ASSERT_TRUE(QDir().mkdir(existing.path()));

    // Need not exist; a trailing slash names the same folder.
    EXPECT_EQ(StartupOptions::validateDevelopmentRoot(fresh.path(), realResolve), QUrl::fromLocalFile(fresh.path()));
    EXPECT_EQ(StartupOptions::validateDevelopmentRoot(fresh.path() + u'/', realResolve), QUrl::fromLocalFile(fresh.path()));
    EXPECT_EQ(StartupOptions::validateDevelopmentRoot(existing.path(), realResolve), QUrl::fromLocalFile(existing.path()));
    EXPECT_EQ(StartupOptions::parse({QStringLiteral("--data-root"), existing.path() + u'/'}).developmentRoot,
        QUrl::fromLocalFile(existing.path()));
    // Nothing was created for the folder that did not exist.
    EXPECT_FALSE(QFileInfo::exists(fresh.path()));

    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-dev/")));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-dev")));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-dev/.")));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-dev/..")));
    EXPECT_TRUE(refusesRoot(existing.path() + QStringLiteral("/inner")));
    EXPECT_TRUE(refusesRoot(existing.path() + QStringLiteral("/.")));
    EXPECT_TRUE(refusesRoot(existing.path() + QStringLiteral("/..")));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-dev/../tolvex-dev/") + fresh.name()));
    EXPECT_TRUE(refusesRoot(existing.path() + QStringLiteral("/../") + fresh.name()));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/") + fresh.name()));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-devx/") + fresh.name()));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/var/tmp/tolvex-dev/") + fresh.name()));
    EXPECT_TRUE(refusesRoot(QStringLiteral("tmp/tolvex-dev/") + fresh.name()));
    EXPECT_TRUE(refusesRoot(fresh.name()));
    EXPECT_TRUE(refusesRoot(QString()));
}

TEST(StartupOptionsTest, DataRootRefusesEverySymbolicLinkOnTheWay)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const DevFolderEntry link(QStringLiteral("link"));
    const DevFolderEntry inside(QStringLiteral("inside"));
    const DevFolderEntry linkInside(QStringLiteral("link-inside"));
    const DevFolderEntry dangling(QStringLiteral("dangling"));
    ASSERT_TRUE(QDir().mkdir(inside.path()));
    makeLink(elsewhere.path(), link.path());
    makeLink(inside.path(), linkInside.path());
    makeLink(elsewhere.filePath(QStringLiteral("absent")), dangling.path());

    EXPECT_TRUE(refusesRoot(link.path()));
    EXPECT_TRUE(refusesRoot(link.path() + u'/'));
    // Even a link to a sibling that would itself be accepted.
    EXPECT_TRUE(refusesRoot(linkInside.path()));
    EXPECT_TRUE(refusesRoot(dangling.path()));
    EXPECT_TRUE(refuses({QStringLiteral("--data-root"), link.path()}));
    EXPECT_FALSE(refusesRoot(inside.path()));

    // A development folder that is itself a link refuses every value. The
    // shared folder cannot be replaced here, so the resolution pretends it.
    const auto devFolderLinked = [](const QUrl& url) {
        const QString path = PathResolution::standardized(url.toLocalFile());
        if (path == u"/tmp/tolvex-dev" || path.startsWith(QStringLiteral("/tmp/tolvex-dev/")))
            return QUrl::fromLocalFile(QStringLiteral("/srv/elsewhere") + path.mid(15));
        return url;
    };
    EXPECT_TRUE(refusesRoot(inside.path(), devFolderLinked));
    EXPECT_TRUE(refusesRoot(QStringLiteral("/tmp/tolvex-dev/new"), devFolderLinked));

    // A /tmp that is a link moves the whole development folder with it.
    const auto tmpLinked = [](const QUrl& url) {
        const QString path = PathResolution::standardized(url.toLocalFile());
        if (path == u"/tmp" || path.startsWith(QStringLiteral("/tmp/")))
            return QUrl::fromLocalFile(QStringLiteral("/private") + path);
        return url;
    };
    EXPECT_EQ(StartupOptions::validateDevelopmentRoot(QStringLiteral("/tmp/tolvex-dev/new"), tmpLinked),
        QUrl::fromLocalFile(QStringLiteral("/private/tmp/tolvex-dev/new")));
}

TEST(PathResolutionTest, RefusesWhatCannotBeResolvedAndSplitsPathsLexically)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString base = *PathResolution::resolvingSymlinks(temp.path());
    makeLink(QStringLiteral("loop"), base + QStringLiteral("/loop"));
    makeLink(base + QStringLiteral("/absent"), base + QStringLiteral("/dangling"));

    // A missing tail is kept; a link that leads nowhere is not guessed at.
    EXPECT_EQ(PathResolution::resolvingSymlinks(base + QStringLiteral("/missing/more")), base + QStringLiteral("/missing/more"));
    EXPECT_EQ(PathResolution::resolvingSymlinks(base + QStringLiteral("/loop/x")), std::nullopt);
    EXPECT_EQ(PathResolution::resolvingSymlinks(base + QStringLiteral("/dangling")), std::nullopt);
    EXPECT_EQ(PathResolution::resolvingSymlinks(QUrl::fromLocalFile(base + QStringLiteral("/dangling"))), QUrl());
    EXPECT_EQ(PathResolution::resolvingSymlinks(QUrl(QStringLiteral("https://example.com/x"))), QUrl());

    EXPECT_EQ(PathResolution::deletingLastComponent(QStringLiteral("/a/b/")), QStringLiteral("/a"));
    EXPECT_EQ(PathResolution::deletingLastComponent(QStringLiteral("/a")), QStringLiteral("/"));
    EXPECT_EQ(PathResolution::appending(QStringLiteral("/"), QStringLiteral("a")), QStringLiteral("/a"));
}
