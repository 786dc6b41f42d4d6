// `cmake --install` puts what the desktop needs to list the program into the
// prefix: its desktop entry and its scalable icon under the freedesktop names.
#include "Velmarin/Presentation/ProgramIcon.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(InstallTests, TheDesktopEntryAndTheIconGoIntoThePrefix)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    QProcess install;
    install.start(QStringLiteral(TOLVEX_CMAKE_COMMAND),
        {QStringLiteral("--install"), QStringLiteral(TOLVEX_BINARY_DIR), QStringLiteral("--prefix"), prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    const QString id = QString::fromLatin1(ProgramIcon::appID);
    const QString icon = prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/") + id + QStringLiteral(".svg"));
    EXPECT_EQ(contents(icon), contents(QStringLiteral(TOLVEX_SOURCE_DIR "/Resources/Desktop/") + id + QStringLiteral(".svg")));
    EXPECT_FALSE(contents(icon).isEmpty());
    EXPECT_EQ(ProgramIcon::svgPath(prefix.filePath(QStringLiteral("bin"))), icon) << "the program finds its icon";

    const QString entry = prefix.filePath(QStringLiteral("share/applications/") + id + QStringLiteral(".desktop"));
    const QList<QByteArray> lines = contents(entry).split('\n');
    EXPECT_TRUE(lines.contains("Icon=" + id.toUtf8()));
    EXPECT_TRUE(lines.contains("Name=Tolvex"));
    const QString program = prefix.filePath(QStringLiteral("bin/tolvex"));
    EXPECT_TRUE(lines.contains("Exec=" + program.toUtf8())) << "the entry starts this prefix's program";
    EXPECT_TRUE(QFileInfo(program).isExecutable());

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-utils is installed with the test dependencies";
    QProcess validate;
    validate.start(validator, {entry});
    ASSERT_TRUE(validate.waitForFinished(30000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
}

} // namespace
} // namespace tolvex
