#include "FilesTesting.h"

#include "TolvexCore/Files/AtomicWriteName.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

using namespace tolvex;
using namespace tolvex::testing;

TEST(AtomicWriteNameTest, TemporaryNamesAreHiddenUniqueAndNeverRecords)
{
    const std::string name = atomicWriteTemporaryName("state.json", 0x0123456789abcdefULL);
    EXPECT_EQ(name, ".state.json.tolvex-tmp-0123456789abcdef");
    EXPECT_TRUE(isAtomicWriteTemporaryName(name));
    EXPECT_NE(atomicWriteTemporaryName("state.json", 1), atomicWriteTemporaryName("state.json", 2));
    for (const char* target : {"state.json", "a.stage", "x"}) {
        const std::string temporary = atomicWriteTemporaryName(target, 42);
        EXPECT_FALSE(temporary.ends_with(".json"));
        EXPECT_FALSE(temporary.ends_with(".stage"));
        EXPECT_EQ(temporary.front(), '.');
    }
    for (const char* other : {"state.json", ".state.json", "AB.stage", ".x.tolvex-tmp-0123", ".x.tolvex-tmp-0123456789ABCDEF"})
        EXPECT_FALSE(isAtomicWriteTemporaryName(other)) << other;

    // Long names are cut to fit a 255-byte name, never inside a UTF-8 character.
    std::string longName;
    for (int i = 0; i < 100; ++i)
        longName += "\xC3\xA9"; // é
    longName += ".json";
    const std::string shortened = atomicWriteTemporaryName(longName, 7);
    EXPECT_LE(shortened.size(), 255u);
    EXPECT_TRUE(isAtomicWriteTemporaryName(shortened));
    EXPECT_TRUE(QString::fromUtf8(shortened.data(), static_cast<qsizetype>(shortened.size())).toUtf8()
        == QByteArray::fromStdString(shortened));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QString::fromUtf8(longName.substr(0, 200).c_str()) + QStringLiteral(".json"));
    files().writeAtomic("long", urlOf(target));
    EXPECT_EQ(readFile(target), "long");
    EXPECT_EQ(entriesOf(dir.path()).size(), 1);
}
