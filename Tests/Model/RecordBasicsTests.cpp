#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/StoreError.h"

#include <gtest/gtest.h>

using namespace tolvex;

namespace {

MaterialVersion version(const QUuid& id, QString sha)
{
    return MaterialVersion{id, QStringLiteral("Materials/x/y.txt"), std::move(sha), 1, VersionKind::original, Date{}};
}

} // namespace

TEST(UuidTextTest, ReadsEitherCaseAndWritesUpperCase)
{
    const auto lower = parseUuid(u"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d");
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(uuidText(*lower), QStringLiteral("0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D"));
    EXPECT_EQ(parseUuid(u"0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D"), lower);
    EXPECT_TRUE(parseUuid(u"00000000-0000-0000-0000-000000000000").has_value());
}

TEST(UuidTextTest, RefusesEveryOtherForm)
{
    EXPECT_FALSE(parseUuid(u"{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}"));
    EXPECT_FALSE(parseUuid(u"0a1b2c3d4e5f6a7b8c9d0e1f2a3b4c5d"));
    EXPECT_FALSE(parseUuid(u" 0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d"));
    EXPECT_FALSE(parseUuid(u"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5g"));
    EXPECT_FALSE(parseUuid(u""));
}

TEST(UnicodeTextTest, CountsAndCutsUserPerceivedCharacters)
{
    const QString family = QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
    const QString decomposed = QStringLiteral("e\u0301");
    EXPECT_EQ(UnicodeText::graphemeCount(family + decomposed + QStringLiteral("ab")), 4);
    EXPECT_EQ(UnicodeText::graphemePrefix(family + decomposed + QStringLiteral("ab"), 2), family + decomposed);
    EXPECT_EQ(UnicodeText::graphemePrefix(QStringLiteral("ab"), 80), QStringLiteral("ab"));
    EXPECT_EQ(UnicodeText::graphemeCount(QString()), 0);
}

TEST(UnicodeTextTest, ComparesUnderCanonicalEquivalence)
{
    EXPECT_TRUE(UnicodeText::canonicallyEqual(QStringLiteral("\u00e9"), QStringLiteral("e\u0301")));
    EXPECT_FALSE(UnicodeText::canonicallyEqual(QStringLiteral("e"), QStringLiteral("e\u0301")));
}

TEST(UnicodeTextTest, TrimsSeparatorsButNotOtherCharacters)
{
    EXPECT_EQ(UnicodeText::trimmedWhitespaceAndNewlines(QStringLiteral("\u2028 \t\u00a0x y\u0085\r\n")), QStringLiteral("x y"));
    EXPECT_EQ(UnicodeText::trimmedWhitespace(QStringLiteral("\t x \n")), QStringLiteral("x \n"));
    EXPECT_EQ(UnicodeText::trimmedWhitespaceAndNewlines(QStringLiteral(" \n ")), QString());
}

TEST(MaterialRecordTest, ActiveVersionIsTheFirstMatchOrAbsent)
{
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    MaterialRecord record;
    EXPECT_FALSE(record.activeVersion().has_value());
    record.versions = {version(a, QStringLiteral("first")), version(b, QStringLiteral("other")),
        version(a, QStringLiteral("second"))};
    record.activeVersionID = a;
    ASSERT_TRUE(record.activeVersion().has_value());
    EXPECT_EQ(record.activeVersion()->sha256, QStringLiteral("first"));
    record.activeVersionID = QUuid::createUuid();
    EXPECT_FALSE(record.activeVersion().has_value());
}

TEST(MaterialRecordTest, EqualityTreatsCanonicallyEquivalentTitlesAsEqual)
{
    MaterialRecord a;
    a.title = QStringLiteral("caf\u00e9");
    MaterialRecord b = a;
    b.title = QStringLiteral("cafe\u0301");
    EXPECT_EQ(a, b);
    b.order = 1;
    EXPECT_NE(a, b);
}

TEST(WorkspaceSnapshotTest, EmptyWorkspaceHoldsTheUngroupedGroupSelected)
{
    const WorkspaceSnapshot snapshot;
    EXPECT_EQ(snapshot.schemaVersion, 1);
    EXPECT_EQ(snapshot.generation, 0u);
    ASSERT_EQ(snapshot.matters.size(), 1);
    EXPECT_EQ(uuidText(snapshot.matters[0].id), QStringLiteral("00000000-0000-0000-0000-000000000001"));
    EXPECT_EQ(snapshot.matters[0].name, QStringLiteral("未分组"));
    EXPECT_EQ(snapshot.selectedMatterID, MatterGroup::ungroupedID());
    EXPECT_FALSE(snapshot.captureFolder.has_value());
}

TEST(NoteDraftTest, PendingFollowsTheTwoCounters)
{
    NoteDraft draft;
    EXPECT_TRUE(draft.isPending());
    draft.publishedRevision = 0;
    EXPECT_FALSE(draft.isPending());
    draft.revision = 3;
    draft.publishedRevision = 2;
    EXPECT_TRUE(draft.isPending());
}

TEST(NoteDraftTest, DraftsDifferingOnlyInUpdateTimeAreNotEqual)
{
    NoteDraft a;
    NoteDraft b = a;
    b.updatedAt = a.updatedAt.addingSeconds(0.001);
    EXPECT_NE(a, b);
}

TEST(StoreErrorTest, CodesFollowTheDeclarationOrderAndNamesAreTheCaseNames)
{
    EXPECT_EQ(StoreError::invalidPath().errorCode(), 0);
    EXPECT_EQ(StoreError::operationInProgress().errorCode(), 9);
    EXPECT_EQ(StoreError::invalidEdit().errorCode(), 10);
    EXPECT_EQ(StoreError::sourceChanged().caseName(), "sourceChanged");
    EXPECT_STREQ(StoreError::recoveryRequired().what(), "recoveryRequired");
    EXPECT_EQ(StoreError::notFound(), StoreError::notFound());
    EXPECT_EQ(qHash(StoreError::notFound()), qHash(StoreError::notFound()));
}

TEST(StoreErrorTest, CrossesAFutureAsItself)
{
    try {
        StoreError::budgetExceeded().raise();
        FAIL();
    } catch (const StoreError& error) {
        EXPECT_EQ(error.code(), StoreError::Code::budgetExceeded);
    }
    std::unique_ptr<QException> copy(StoreError::notFound().clone());
    EXPECT_THROW(copy->raise(), StoreError);
}
