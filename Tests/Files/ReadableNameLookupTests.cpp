#include "FilesTesting.h"

#include "Support/LookAlikeNames.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/ReadableNameLookup.h"
#include "TolvexCore/Model/AmbiguousNameError.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolvex;
using namespace tolvex::testing;

TEST(ReadableNameLookupTest, AReadableNameStandsForTheOneFileThatReadsSoOrForNone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString alone = dir.filePath(QStringLiteral("alone"));
    const QString twins = dir.filePath(QStringLiteral("twins"));
    const QString genuine = dir.filePath(QStringLiteral("genuine"));
    for (const QString& folder : {alone, twins, genuine})
        ASSERT_TRUE(QDir().mkpath(folder));
    test::LookAlikeNames::make(alone, false);
    test::LookAlikeNames::make(twins);
    writeFile(genuine + QStringLiteral("/\uFFFD\uFFFD.png"), "a name of real U+FFFD");
    // A folder whose own name is not UTF-8, holding a file that is.
    const QByteArray rawFolder = QFile::encodeName(dir.path()) + "/caf\xE9";
    ASSERT_EQ(::mkdir(rawFolder.constData(), 0700), 0);
    const int menu = ::open((rawFolder + "/menu.txt").constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(menu, 0);
    ::close(menu);

    const QString lookAlike = QStringLiteral("/\uFFFD\uFFFD.png");
    const struct {
        QString readable;
        std::optional<QByteArray> exact; // nothing: refused
    } cases[] = {
        {alone + lookAlike, QFile::encodeName(alone) + "/\xFF\xFE.png"},
        {genuine + lookAlike, QFile::encodeName(genuine + lookAlike)},
        {dir.filePath(QStringLiteral("caf\uFFFD/menu.txt")), rawFolder + "/menu.txt"},
        // Without U+FFFD the path is its own answer, looked up nowhere.
        {dir.filePath(QStringLiteral("nowhere/at all")), QFile::encodeName(dir.filePath(QStringLiteral("nowhere/at all")))},
        {twins + lookAlike, std::nullopt},
        {dir.filePath(QStringLiteral("\uFFFD")), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readable.toStdString());
        if (c.exact) {
            EXPECT_EQ(encodeLocalPath(ReadableNameLookup::exactPath(files(), c.readable)), *c.exact);
            continue;
        }
        try {
            ReadableNameLookup::exactPath(files(), c.readable);
            ADD_FAILURE() << "a path was found";
        } catch (const AmbiguousNameError& ambiguous) {
            EXPECT_EQ(c.readable, twins + lookAlike);
            EXPECT_EQ(ambiguous.name(), lookAlike.mid(1));
            EXPECT_EQ(ambiguous.folder(), twins);
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        }
    }
}
