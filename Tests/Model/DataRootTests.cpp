#include "TolvexCore/Model/DataRoot.h"

#include <gtest/gtest.h>

#include <string_view>

namespace tolvex {
namespace {

const QUuid material(QStringLiteral("{0B0E5C51-2F5A-4C7B-9D8E-1A2B3C4D5E6F}"));
const QUuid version(QStringLiteral("{6F5E4D3C-2B1A-4E8D-9C7B-5A4F3E2D1C0B}"));

// Stored files name these paths; a change here strands every existing data root.
TEST(DataRootTest, NamesTheEntriesStoredFilesRelyOn)
{
    const QString m = QStringLiteral("0B0E5C51-2F5A-4C7B-9D8E-1A2B3C4D5E6F");
    const QString v = QStringLiteral("6F5E4D3C-2B1A-4E8D-9C7B-5A4F3E2D1C0B");
    const std::pair<QString, QString> cases[] = {
        {DataRoot::versionPath(material, version, QStringLiteral("png")), QStringLiteral("Materials/") + m + u'/' + v + QStringLiteral(".png")},
        {DataRoot::journalPath(version), QStringLiteral("Transactions/") + v + QStringLiteral(".json")},
        {DataRoot::stagingPath(version), QStringLiteral("Transactions/") + v + QStringLiteral(".stage")},
        {DataRoot::noteDraftPath(material), QStringLiteral("Drafts/") + m + QStringLiteral("/note.json")},
        {DataRoot::editSessionPath(material), QStringLiteral("Drafts/") + m + QStringLiteral("/session.json")},
        {DataRoot::workingFilePath(material, QStringLiteral("jpeg")), QStringLiteral("Drafts/") + m + QStringLiteral("/working.jpeg")},
        {DataRoot::cleanupReceiptPath(version), QStringLiteral("CleanupRecords/") + v + QStringLiteral(".json")},
        {DataRoot::damagedStateFile(version), QStringLiteral("state.damaged.") + v + QStringLiteral(".json")},
    };
    for (const auto& [made, expected] : cases)
        EXPECT_EQ(made, expected);
    EXPECT_TRUE(DataRoot::isStagingName(DataRoot::stagingPath(version)));
    EXPECT_TRUE(DataRoot::isJournalName(DataRoot::journalFileName(version)));
    EXPECT_FALSE(DataRoot::isJournalName(u".json"));
}

TEST(DataRootTest, LastPathComponentIgnoresTrailingSlashesInBothSpellings)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"/a/b", "b"}, {"/a/b/", "b"}, {"a//", "a"}, {"name", "name"}, {"/", "/"}, {"//", "/"}, {"", ""}, {"/a", "a"},
    };
    for (const auto& [path, last] : cases) {
        EXPECT_EQ(DataRoot::lastPathComponent(std::string(path)), last) << path;
        EXPECT_EQ(DataRoot::lastPathComponent(QString::fromUtf8(path)), QString::fromUtf8(last)) << path;
    }
}

} // namespace
} // namespace tolvex
