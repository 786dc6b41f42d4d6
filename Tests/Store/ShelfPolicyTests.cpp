#include "TolvexCore/Store/ShelfPolicy.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tolvex;

namespace {

constexpr std::int64_t unlimited = std::numeric_limits<std::int64_t>::max();

MaterialRecord card(const QUuid& matter, std::int64_t order, MaterialStatus status = MaterialStatus::hanging,
    bool pinned = false)
{
    MaterialRecord record;
    record.id = QUuid::createUuid();
    record.kind = MaterialKind::text;
    record.matterID = matter;
    record.status = status;
    record.pinned = pinned;
    record.order = order;
    record.title = QStringLiteral("card %1").arg(order);
    return record;
}

struct Shelf {
    WorkspaceSnapshot snapshot;
    QUuid group = MatterGroup::ungroupedID();

    MaterialRecord& add(std::int64_t order, MaterialStatus status = MaterialStatus::hanging, bool pinned = false)
    {
        snapshot.materials.append(card(group, order, status, pinned));
        return snapshot.materials.last();
    }
    const MaterialRecord& at(qsizetype index) const { return snapshot.materials[index]; }
};

QList<std::int64_t> orders(const QList<MaterialRecord>& records)
{
    QList<std::int64_t> result;
    for (const MaterialRecord& record : records)
        result.append(record.order);
    return result;
}

} // namespace

TEST(ShelfPolicyTest, NoCapacityOrUnknownGroupAdmitsNothing)
{
    Shelf shelf;
    shelf.add(1);
    const MaterialRecord newcomer = card(shelf.group, 0);
    for (const std::int64_t capacity : {std::int64_t{0}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_FALSE(ShelfPolicy::canAdmit(shelf.snapshot, shelf.group, capacity));
        const ImportResult result = ShelfPolicy::admit(newcomer, shelf.snapshot, capacity);
        EXPECT_EQ(result.disposition, ImportDisposition::shelfFull());
        EXPECT_EQ(result.snapshot, shelf.snapshot);
        EXPECT_TRUE(ShelfPolicy::visible(shelf.snapshot, shelf.group, capacity).isEmpty());
    }

    // Records may carry a group id that `matters` lacks: still no room there.
    const QUuid stray = QUuid::createUuid();
    shelf.snapshot.materials.append(card(stray, 3));
    EXPECT_FALSE(ShelfPolicy::canAdmit(shelf.snapshot, stray, unlimited));
    EXPECT_EQ(ShelfPolicy::admit(card(stray, 0), shelf.snapshot, unlimited).disposition, ImportDisposition::shelfFull());
    // ... while `visible` does not consult `matters`.
    EXPECT_EQ(ShelfPolicy::visible(shelf.snapshot, stray, unlimited).size(), 1);
}

TEST(ShelfPolicyTest, MakesRoomByTakingDownTheOldestUnpinnedCards)
{
    Shelf shelf;
    shelf.add(5);
    shelf.add(2);
    shelf.add(9);
    const MaterialRecord newcomer = card(shelf.group, 0);
    const ImportResult result = ShelfPolicy::admit(newcomer, shelf.snapshot, 3);
    ASSERT_EQ(result.disposition, ImportDisposition::hanging(newcomer.id));
    EXPECT_EQ(result.snapshot.materials[0].status, MaterialStatus::hanging);
    EXPECT_EQ(result.snapshot.materials[1].status, MaterialStatus::takenDown);
    EXPECT_EQ(result.snapshot.materials[1].order, 2) << "a take-down keeps the order";
    EXPECT_EQ(result.snapshot.materials[2].status, MaterialStatus::hanging);
    EXPECT_EQ(result.snapshot.materials.last().id, newcomer.id);
    EXPECT_EQ(result.snapshot.materials.last().order, 10);
    EXPECT_EQ(result.snapshot.generation, shelf.snapshot.generation);
    // The caller's snapshot is not touched.
    EXPECT_EQ(shelf.at(1).status, MaterialStatus::hanging);

    Shelf pinnedShelf;
    pinnedShelf.add(1, MaterialStatus::hanging, true);
    pinnedShelf.add(2, MaterialStatus::hanging, true);
    pinnedShelf.add(0);
    const ImportResult pinnedResult = ShelfPolicy::admit(card(pinnedShelf.group, 0), pinnedShelf.snapshot, 3);
    ASSERT_EQ(pinnedResult.disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_EQ(pinnedResult.snapshot.materials[2].status, MaterialStatus::takenDown);
    EXPECT_EQ(pinnedResult.snapshot.materials[0].status, MaterialStatus::hanging);

    pinnedShelf.snapshot.materials[2].pinned = true;
    EXPECT_FALSE(ShelfPolicy::canAdmit(pinnedShelf.snapshot, pinnedShelf.group, 3));
    EXPECT_EQ(ShelfPolicy::admit(card(pinnedShelf.group, 0), pinnedShelf.snapshot, 3).disposition,
        ImportDisposition::shelfFull());
    // Unpinned hanging cards never block admission.
    Shelf crowded;
    for (int i = 0; i < 5; ++i)
        crowded.add(i);
    EXPECT_TRUE(ShelfPolicy::canAdmit(crowded.snapshot, crowded.group, 1));
    const ImportResult crowdedResult = ShelfPolicy::admit(card(crowded.group, 0), crowded.snapshot, 1);
    ASSERT_EQ(crowdedResult.disposition.kind(), ImportDisposition::Case::hanging);
    EXPECT_EQ(ShelfPolicy::visible(crowdedResult.snapshot, crowded.group, unlimited).size(), 1);
}

TEST(ShelfPolicyTest, NewOrderIsOneAboveEveryRecordOfTheGroup)
{
    Shelf downOnly;
    downOnly.add(7, MaterialStatus::takenDown);
    downOnly.add(3, MaterialStatus::trashed);
    const ImportResult afterDown = ShelfPolicy::admit(card(downOnly.group, 0), downOnly.snapshot, unlimited);
    EXPECT_EQ(afterDown.snapshot.materials.last().order, 8);

    Shelf empty;
    const ImportResult first = ShelfPolicy::admit(card(empty.group, 42), empty.snapshot, unlimited);
    EXPECT_EQ(first.snapshot.materials.last().order, 0);
    EXPECT_EQ(first.snapshot.materials.last().status, MaterialStatus::hanging);

    // Another group's orders do not count.
    Shelf twoGroups;
    const MatterGroup other{QUuid::createUuid(), QStringLiteral("other"), 1};
    twoGroups.snapshot.matters.append(other);
    twoGroups.snapshot.materials.append(card(other.id, 100));
    twoGroups.add(4);
    EXPECT_EQ(ShelfPolicy::admit(card(twoGroups.group, 0), twoGroups.snapshot, unlimited).snapshot.materials.last().order, 5);

    // The largest order cannot grow: full, and nothing is taken down for it.
    Shelf topped;
    topped.add(std::numeric_limits<std::int64_t>::max());
    topped.add(1);
    const ImportResult toppedResult = ShelfPolicy::admit(card(topped.group, 0), topped.snapshot, 1);
    EXPECT_EQ(toppedResult.disposition, ImportDisposition::shelfFull());
    EXPECT_EQ(toppedResult.snapshot, topped.snapshot);

    // A pinned newcomer keeps its pin; every other field is the caller's.
    MaterialRecord pinned = card(empty.group, 0, MaterialStatus::takenDown, true);
    const ImportResult pinnedResult = ShelfPolicy::admit(pinned, empty.snapshot, unlimited);
    EXPECT_TRUE(pinnedResult.snapshot.materials.last().pinned);
    EXPECT_EQ(pinnedResult.snapshot.materials.last().status, MaterialStatus::hanging);
    EXPECT_EQ(pinnedResult.snapshot.materials.last().title, pinned.title);
}

TEST(ShelfPolicyTest, AnExistingIdIsADuplicateWhateverItsGroupOrStatus)
{
    Shelf shelf;
    const MatterGroup other{QUuid::createUuid(), QStringLiteral("other"), 1};
    shelf.snapshot.matters.append(other);
    MaterialRecord trashed = card(other.id, 2, MaterialStatus::trashed);
    shelf.snapshot.materials.append(trashed);

    MaterialRecord again = trashed;
    again.matterID = shelf.group;
    const ImportResult result = ShelfPolicy::admit(again, shelf.snapshot, unlimited);
    EXPECT_EQ(result.disposition, ImportDisposition::duplicate(trashed.id));
    EXPECT_EQ(result.snapshot, shelf.snapshot);
    // Duplicate wins over a full shelf.
    EXPECT_EQ(ShelfPolicy::admit(again, shelf.snapshot, 0).disposition, ImportDisposition::duplicate(trashed.id));
}

TEST(ShelfPolicyTest, VisibleListsPinnedFirstThenByOrderKeepingListOrderForTies)
{
    Shelf shelf;
    const QUuid pinnedFour = shelf.add(4, MaterialStatus::hanging, true).id;
    const QUuid unpinnedThree = shelf.add(3).id;
    const QUuid tieFirst = shelf.add(0).id;
    shelf.add(0, MaterialStatus::takenDown);
    const QUuid pinnedOne = shelf.add(1, MaterialStatus::hanging, true).id;
    const QUuid tieSecond = shelf.add(0).id;
    shelf.add(2, MaterialStatus::needsReview);

    const QList<MaterialRecord> cards = ShelfPolicy::visible(shelf.snapshot, shelf.group, unlimited);
    ASSERT_EQ(cards.size(), 5);
    EXPECT_EQ(cards[0].id, pinnedOne);
    EXPECT_EQ(cards[1].id, pinnedFour);
    EXPECT_EQ(cards[2].id, tieFirst);
    EXPECT_EQ(cards[3].id, tieSecond);
    EXPECT_EQ(cards[4].id, unpinnedThree);

    EXPECT_EQ(orders(ShelfPolicy::visible(shelf.snapshot, shelf.group, 2)), (QList<std::int64_t>{1, 4}));
    EXPECT_TRUE(ShelfPolicy::visible(shelf.snapshot, QUuid::createUuid(), unlimited).isEmpty());
}
