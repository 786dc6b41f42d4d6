#include "QtPrinting.h"

#include "TolvexCore/Startup/AppBundle.h"
#include "TolvexCore/Startup/PathResolution.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace tolvex;

TEST(AppBundleTest, InstalledLayoutIsBinNextToShareTolvex)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString prefix = *PathResolution::resolvingSymlinks(temp.path());
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/bin")));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/share/tolvex")));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/other/bin")));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/lonely/bin")));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/lonely/share")));

    const AppBundle installed = AppBundle::forExecutableFolder(prefix + QStringLiteral("/bin/"));
    EXPECT_TRUE(installed.isApplication());
    EXPECT_EQ(installed.executableFolder(), prefix + QStringLiteral("/bin"));
    EXPECT_EQ(installed.folder(), prefix);
    EXPECT_EQ(installed.resourceFolder(), std::optional<QString>(prefix + QStringLiteral("/share/tolvex")));

    // A folder "bin" without "share/tolvex" above it, or "share/tolvex" next
    // to a folder of another name: a bare executable, which has no resources.
    for (const QString& folder : {prefix + QStringLiteral("/lonely/bin"), prefix + QStringLiteral("/share"),
             prefix + QStringLiteral("/other/bin")}) {
        const AppBundle bare = AppBundle::forExecutableFolder(folder);
        EXPECT_FALSE(bare.isApplication()) << folder.toStdString();
        EXPECT_EQ(bare.folder(), folder);
        EXPECT_EQ(bare.resourceFolder(), std::nullopt);
    }

    // A linked resource folder still makes an installed layout; whether it
    // may be used is the resource check's decision.
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/linked/bin")));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/linked/share")));
    ASSERT_EQ(::symlink(QFile::encodeName(prefix + QStringLiteral("/share/tolvex")).constData(),
                  QFile::encodeName(prefix + QStringLiteral("/linked/share/tolvex")).constData()),
        0);
    EXPECT_TRUE(AppBundle::forExecutableFolder(prefix + QStringLiteral("/linked/bin")).isApplication());
}

TEST(AppBundleTest, MainBundleIsTheFolderOfTheRunningExecutable)
{
    const AppBundle main = AppBundle::main();
    EXPECT_EQ(main.executableFolder(), PathResolution::resolvingSymlinks(QStringLiteral(TOLVEX_RUNTIME_DIR)));
    // The build tree has no "share/tolvex" above its executables.
    EXPECT_FALSE(main.isApplication());
    EXPECT_EQ(main.folder(), main.executableFolder());
}
