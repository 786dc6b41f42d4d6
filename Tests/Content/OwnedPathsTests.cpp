#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tolvex;

namespace {

bool refusesAsInvalidPath(const OwnedPaths& paths, const QString& relativePath)
{
    try {
        paths.url(relativePath);
    } catch (const StoreError& error) {
        return error.code() == StoreError::Code::invalidPath;
    }
    return false;
}

QString canonical(const QString& path)
{
    return QDir(path).canonicalPath();
}

class OwnedPathsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        base = canonical(temporary.path());
        rootPath = base + QStringLiteral("/Tolvex");
        ASSERT_TRUE(QDir().mkpath(rootPath + QStringLiteral("/Materials")));
        ASSERT_TRUE(QDir().mkpath(rootPath + QStringLiteral("/Transactions")));
        ASSERT_TRUE(QDir().mkpath(base + QStringLiteral("/elsewhere")));
    }

    void link(const QString& target, const QString& at) { ASSERT_TRUE(QFile::link(target, at)) << qPrintable(at); }

    QTemporaryDir temporary;
    QString base;
    QString rootPath;
};

} // namespace

TEST_F(OwnedPathsTest, RefusesMalformedRelativePaths)
{
    const OwnedPaths paths(QUrl::fromLocalFile(rootPath));
    for (const QString& bad : {QString(), QStringLiteral("/"), QStringLiteral("a//b"), QStringLiteral("a/"),
             QStringLiteral("/a"), QStringLiteral("//a"), QStringLiteral("./a"), QStringLiteral("a/.."),
             QStringLiteral(".."), QStringLiteral("."), QStringLiteral("a/./b"), QStringLiteral("Materials/../../x"),
             QString::fromUtf8("Materials/x\0y", 13)})
        EXPECT_TRUE(refusesAsInvalidPath(paths, bad)) << qPrintable(bad);
    // Dots inside a name are an ordinary name.
    EXPECT_EQ(paths.url(QStringLiteral("a/..b/c.")).toLocalFile(), rootPath + QStringLiteral("/a/..b/c."));
}

TEST_F(OwnedPathsTest, AcceptsPathsBelowTheRootThatDoNotExistYet)
{
    const OwnedPaths paths(QUrl::fromLocalFile(rootPath));
    const QString payload = QStringLiteral("Materials/0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D/V.png");
    EXPECT_EQ(paths.url(payload), QUrl::fromLocalFile(rootPath + u'/' + payload));
    EXPECT_EQ(paths.url(QStringLiteral("Transactions")), QUrl::fromLocalFile(rootPath + QStringLiteral("/Transactions")));
    // The whole root may be missing too: a first start creates it.
    const OwnedPaths fresh(QUrl::fromLocalFile(base + QStringLiteral("/new/deeper/Tolvex")));
    EXPECT_TRUE(fresh.rootIsAtAnchor());
    EXPECT_EQ(fresh.url(QStringLiteral("state.json")).toLocalFile(), base + QStringLiteral("/new/deeper/Tolvex/state.json"));
}

TEST_F(OwnedPathsTest, StandardizesTheRootAndAnchorsItAtItsResolvedParent)
{
    const OwnedPaths paths(QUrl::fromLocalFile(base + QStringLiteral("/elsewhere/..//./Tolvex/")));
    EXPECT_EQ(paths.root().toLocalFile(), rootPath);
    EXPECT_EQ(paths.anchor().toLocalFile(), rootPath);
    EXPECT_TRUE(paths.rootIsAtAnchor());
}

TEST_F(OwnedPathsTest, RootBelowALinkedFolderIsAccepted)
{
    link(base, base + QStringLiteral("/via"));
    const OwnedPaths paths(QUrl::fromLocalFile(base + QStringLiteral("/via/Tolvex")));
    EXPECT_EQ(paths.root().toLocalFile(), base + QStringLiteral("/via/Tolvex"));
    EXPECT_EQ(paths.anchor().toLocalFile(), rootPath);
    EXPECT_TRUE(paths.rootIsAtAnchor());
    // The guarded URL keeps the root as given, not the resolved folder.
    EXPECT_EQ(paths.url(QStringLiteral("Transactions/X.stage")).toLocalFile(),
        base + QStringLiteral("/via/Tolvex/Transactions/X.stage"));
}

TEST_F(OwnedPathsTest, RootThatIsALinkIsRefused)
{
    link(rootPath, base + QStringLiteral("/alias"));
    const OwnedPaths paths(QUrl::fromLocalFile(base + QStringLiteral("/alias")));
    EXPECT_FALSE(paths.rootIsAtAnchor());
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("state.json")));
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("Materials")));

    // A root that turns into a link after the guard was made is refused as well.
    const OwnedPaths later(QUrl::fromLocalFile(base + QStringLiteral("/later")));
    EXPECT_NO_THROW(later.url(QStringLiteral("state.json")));
    link(rootPath, base + QStringLiteral("/later"));
    EXPECT_FALSE(later.rootIsAtAnchor());
    EXPECT_TRUE(refusesAsInvalidPath(later, QStringLiteral("state.json")));
}

TEST_F(OwnedPathsTest, LinksPlantedBelowTheRootAreRefused)
{
    const OwnedPaths paths(QUrl::fromLocalFile(rootPath));
    const QString material = QStringLiteral("Materials/0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D");

    // A folder link at "Transactions", even one that points inside the root.
    ASSERT_TRUE(QDir(rootPath).rename(QStringLiteral("Transactions"), QStringLiteral("Real")));
    link(rootPath + QStringLiteral("/Real"), rootPath + QStringLiteral("/Transactions"));
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("Transactions")));
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("Transactions/X.stage")));
    EXPECT_NO_THROW(paths.url(QStringLiteral("Real/X.stage")));

    // A material folder linked out of the root; its parent stays usable.
    link(base + QStringLiteral("/elsewhere"), rootPath + u'/' + material);
    EXPECT_TRUE(refusesAsInvalidPath(paths, material));
    EXPECT_TRUE(refusesAsInvalidPath(paths, material + QStringLiteral("/V.png")));
    EXPECT_NO_THROW(paths.url(QStringLiteral("Materials")));

    // A link at the last component: a file link and a dangling one.
    QFile target(base + QStringLiteral("/elsewhere/secret"));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.close();
    link(target.fileName(), rootPath + QStringLiteral("/state.json"));
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("state.json")));
    link(base + QStringLiteral("/nowhere"), rootPath + QStringLiteral("/Drafts"));
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("Drafts")));
    EXPECT_TRUE(refusesAsInvalidPath(paths, QStringLiteral("Drafts/note.json")));
}

TEST_F(OwnedPathsTest, RootThatIsNotALocalAbsolutePathIsRefused)
{
    const OwnedPaths web(QUrl(QStringLiteral("https://example.com/Tolvex")));
    EXPECT_FALSE(web.rootIsAtAnchor());
    EXPECT_TRUE(refusesAsInvalidPath(web, QStringLiteral("state.json")));
    const OwnedPaths relative(QUrl::fromLocalFile(QStringLiteral("Tolvex")));
    EXPECT_TRUE(refusesAsInvalidPath(relative, QStringLiteral("state.json")));
}

TEST_F(OwnedPathsTest, ResolvesExistingComponentsAndKeepsTheMissingRest)
{
    link(base + QStringLiteral("/elsewhere"), base + QStringLiteral("/hop"));
    EXPECT_EQ(OwnedPaths::resolvingSymbolicLinks(base + QStringLiteral("/hop/a/b")), base + QStringLiteral("/elsewhere/a/b"));
    EXPECT_EQ(OwnedPaths::resolvingSymbolicLinks(base + QStringLiteral("/hop/")), base + QStringLiteral("/elsewhere"));
    link(base + QStringLiteral("/loop"), base + QStringLiteral("/loop"));
    EXPECT_FALSE(OwnedPaths::resolvingSymbolicLinks(base + QStringLiteral("/loop/a")).has_value());
    EXPECT_FALSE(OwnedPaths::resolvingSymbolicLinks(QStringLiteral("relative/a")).has_value());
}
